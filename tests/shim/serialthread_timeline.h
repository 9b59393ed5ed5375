// The CTS timeline that the serial status thread tests play through the
// modem shim, and the ring the thread must leave after it. Shared by the
// POSIX test (tests/platform/posix) and the Win32 one under Wine
// (tests/wine); both run the program's own thread on the real calls.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "service/program.h"
#include "core/timing.h"
#include "serial/sensing.h"
#include "serial/serial_thread.h"
#include "fakes/fake_platform.h"
#include "serial/serial_thread.h"
#include "timing_figures.h"

namespace qn::shimtest {

// A program on this OS's own clock, threads and serial ports; console,
// files (the run log among them) and process come from the fakes.
struct ProgramRig {
    test::FakeConsole console;
    test::FakeFiles files;
    test::FakeProcess process;
    platform::Platform plat;
    Program* program = nullptr;

    std::string log() const {
        auto it = files.files.find("logs/serialthread.log");
        return it == files.files.end() ? std::string() : it->second;
    }
};

// Never freed, on purpose: the serial thread has no stop, so the program
// state and the services it uses must outlive it.
inline ProgramRig& leaked_program() {
    auto* rig = new ProgramRig;
    rig->plat = platform::native_platform();
    rig->plat.console = &rig->console;
    rig->plat.files = &rig->files;
    rig->plat.process = &rig->process;
    rig->program = make_program(rig->plat).release();
    rig->program->clock.start();
    rig->files.dirs.insert("logs");
    auto log = rig->files.create("logs/serialthread.log");
    if (log.ok()) rig->program->run_log.adopt(std::move(log.value()));
    return *rig;
}

inline constexpr int kTiocmCts = 0x020;  // the shim's word for CTS on

struct Change {
    std::int64_t at_us;      // from the moment the shim takes the entries in
    int word;                // TIOCM_ bits
    bool transient = false;  // an edge of the transient: omitted or swallowed
};

// Five CTS pulses of 150 ms, 500 ms apart, and halfway between the second
// and the third pulse a transient of transient_us: far shorter than the 2 ms
// re-check. Every change is at least 150 ms from the next, so that a thread
// woken 100 ms late on a busy machine still meets each change as the one it
// is (an edge of a pulse, not a pulse already over; a transient between two
// quiet stretches) and the ring it leaves is the same.
inline std::vector<Change> cts_timeline(std::int64_t transient_us = 1000) {
    constexpr std::int64_t kMs = 1000, kFirst = 150 * kMs, kPeriod = 500 * kMs, kLength = 150 * kMs;
    std::vector<Change> t;
    for (int k = 0; k < 5; ++k) {
        std::int64_t on = kFirst + k * kPeriod;
        t.push_back({on, kTiocmCts});
        t.push_back({on + kLength, 0});
        if (k == 1) {
            std::int64_t blip = on + kLength + (kPeriod - kLength) / 2;
            t.push_back({blip, kTiocmCts, true});
            t.push_back({blip + transient_us, 0, true});
        }
    }
    return t;
}

// One relative shim entry: word from after_us on.
inline std::string relative_entry(std::int64_t after_us, int word) {
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) about
    // chains of string concatenation.
    std::string line = "+";
    line += std::to_string(after_us);
    line += ' ';
    line += std::to_string(word);
    line += '\n';
    return line;
}

// The whole timeline as relative shim entries, for one append.
inline std::string relative_entries(const std::vector<Change>& t) {
    std::string text;
    for (const Change& c : t) text += relative_entry(c.at_us, c.word);
    return text;
}

struct RingEvent {
    std::uint32_t word = 0;
    int code = 0;
    std::int64_t time_us = 0;
};

struct RingRecord {
    std::int32_t high = 0;           // events recorded
    std::vector<RingEvent> events;   // slots 1..high (fewer than a ring's length here)
    std::vector<RingEvent> omitted;  // the omitted list
};

inline RingRecord read_ring(const Program& program) {
    const EventRing& ring = program.event_ring;
    RingRecord r;
    r.high = ring.recorded();
    for (int i = 1; i <= r.high && i <= kEventRingSize; ++i) {
        const LineEvent& e = ring.event(i);
        r.events.push_back({e.status, static_cast<int>(e.shape), e.time_us});
    }
    for (int i = 0; i < ring.omitted_count(); ++i) {
        const LineEvent& e = ring.omitted(i);
        r.omitted.push_back({e.status, static_cast<int>(e.shape), e.time_us});
    }
    return r;
}

struct Stamp {
    std::string what;
    std::int64_t lag_us;  // the stamp less the time of its change
};

// Lags against the median lag: the time base, unknown to the test (the shim
// counts from the moment it took the entries in), which a few late stamps
// cannot shift while most are on time.
inline std::vector<std::int64_t> offsets_from_median(const std::vector<Stamp>& stamps) {
    std::vector<std::int64_t> lags;
    for (const Stamp& s : stamps) lags.push_back(s.lag_us);
    std::vector<std::int64_t> sorted = lags;
    std::sort(sorted.begin(), sorted.end());
    const std::int64_t base = sorted[sorted.size() / 2];
    for (std::int64_t& l : lags) l -= base;
    return lags;
}

// Gross: every stamp within 100 ms of its change. A busy machine wakes the
// thread late by milliseconds, now and then by tens of them; a fault in the
// stamps (a wrong unit, the time of another event, a stamp left at zero) is
// off by far more, or on every stamp.
inline constexpr std::int64_t kGrossStampUs = 100000;

// Precise (a precision run only): within tolerance_us, but for a quarter of
// the stamps at most that may be late by up to kHiccupUs. A busy host holds
// up a wake-up now and then by milliseconds, real-time scheduling or not
// (with both cores taken by compilers, 3 to 15 ms was seen, a few times a
// second).
inline constexpr std::int64_t kHiccupUs = 20000;

// What is off, empty when the stamps keep time. tolerance_us < 0: gross.
inline std::string stamps_off_time(const std::vector<Stamp>& stamps, std::int64_t tolerance_us) {
    const bool gross = tolerance_us < 0;
    const std::int64_t limit = gross ? kGrossStampUs : tolerance_us;
    const std::vector<std::int64_t> offs = offsets_from_median(stamps);
    std::size_t late = 0, wrong = 0;
    std::string off_time;
    for (std::size_t i = 0; i < stamps.size(); ++i) {
        const std::int64_t off = offs[i];
        if (std::llabs(off) <= limit) continue;
        const bool hiccup = !gross && off > limit && off <= kHiccupUs;
        ++(hiccup ? late : wrong);
        off_time += "  " + stamps[i].what + " is " + std::to_string(off) + " us off the timeline" +
                    (hiccup ? " (a late wake-up)" : "") + "\n";
    }
    if (wrong == 0 && late <= stamps.size() / 4) return {};
    return std::to_string(late + wrong) + " of " + std::to_string(stamps.size()) + " time stamps off by more than " +
           std::to_string(limit) + " us:\n" + off_time;
}

// Every edge of the pulses recorded in order (CTS on: 0x10, off: 0) with code
// 0; the transient alone omitted, with code 4 and the watched bit. Gives
// each recorded event's stamp against the time of its change.
inline void check_ring_follows(const RingRecord& r, const std::vector<Change>& timeline, std::vector<Stamp>& stamps) {
    std::vector<Change> edges, transients;
    for (const Change& c : timeline) {
        if (!c.transient) edges.push_back(c);
        else if (c.word != 0) transients.push_back(c);  // its return is swallowed, not recorded
    }
    ASSERT_EQ(r.high, static_cast<std::int32_t>(edges.size()));
    ASSERT_EQ(r.events.size(), edges.size());
    for (std::size_t i = 0; i < edges.size(); ++i) {
        const RingEvent& e = r.events[i];
        std::string what = "event " + std::to_string(i + 1);
        EXPECT_EQ(e.word, edges[i].word ? platform::kLineCts : 0u) << what;
        EXPECT_EQ(e.code, static_cast<int>(EventShape::Normal)) << what;
        stamps.push_back({what, e.time_us - edges[i].at_us});
    }
    ASSERT_EQ(r.omitted.size(), transients.size());
    for (std::size_t i = 0; i < transients.size(); ++i) {
        const RingEvent& o = r.omitted[i];
        EXPECT_EQ(o.code, static_cast<int>(EventShape::Interference));
        EXPECT_EQ(o.word, platform::kLineCts);
        stamps.push_back({"the transient", o.time_us - transients[i].at_us});
    }
}

// Judges the ring one run of the thread left. A wrong word, code or slot
// fails; the stamps are held to 100 ms of their changes, and their figures
// printed; in a precision run they are held to precise_us as well (see
// stamps_off_time).
inline void expect_ring_follows(const RingRecord& ring, const std::vector<Change>& timeline,
                                std::int64_t precise_us) {
    std::vector<Stamp> stamps;
    check_ring_follows(ring, timeline, stamps);
    if (::testing::Test::HasFailure() || stamps.empty()) return;
    std::vector<double> offs_ms;
    for (std::int64_t o : offsets_from_median(stamps)) offs_ms.push_back(static_cast<double>(o) / 1000.0);
    timing::print_figures("status thread's stamps off the timeline (against their median lag)", offs_ms);
    const std::string gross = stamps_off_time(stamps, -1);
    if (!gross.empty()) ADD_FAILURE() << gross;
    if (!timing::precision_run()) return;
    const std::string precise = stamps_off_time(stamps, precise_us);
    if (!precise.empty()) ADD_FAILURE() << "precision: " << precise;
}

}  // namespace qn::shimtest
