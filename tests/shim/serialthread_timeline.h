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

#include "core/context.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "serial/serialthread_shorts_xz.h"

namespace qn::shimtest {

// A program on this OS's own clock, threads and serial ports; console,
// files (the run log among them) and process come from the fakes.
struct ProgramRig {
    test::FakeConsole console;
    test::FakeFiles files;
    test::FakeProcess process;
    platform::Platform plat;
    Context* c = nullptr;

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
    rig->c = make_context(rig->plat).release();
    STARTTHETIMER(*rig->c);
    rig->files.dirs.insert("logs");
    auto log = rig->files.create("logs/serialthread.log");
    if (log.ok()) rig->c->FOOERROR.adopt(std::move(log.value()));
    return *rig;
}

inline constexpr int kTiocmCts = 0x020;  // the shim's word for CTS on

struct Change {
    std::int64_t at_us;      // from the moment the shim takes the entries in
    int word;                // TIOCM_ bits
    bool transient = false;  // an edge of the transient: omitted or swallowed
};

// Five CTS pulses of 80 ms, 300 ms apart, and between the second and the
// third a transient of transient_us: far shorter than the 2 ms re-check.
inline std::vector<Change> cts_timeline(std::int64_t transient_us = 1000) {
    constexpr std::int64_t kMs = 1000, kFirst = 150 * kMs, kPeriod = 300 * kMs, kLength = 80 * kMs;
    std::vector<Change> t;
    for (int k = 0; k < 5; ++k) {
        std::int64_t on = kFirst + k * kPeriod;
        t.push_back({on, kTiocmCts});
        t.push_back({on + kLength, 0});
        if (k == 1) {
            std::int64_t blip = on + kPeriod / 2;
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

inline RingRecord read_ring(const Context& c) {
    const SerialState& s = c.serial;
    RingRecord r;
    r.high = s.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire);
    for (int i = 1; i <= r.high && i <= COMBUFFERLEN; ++i)
        r.events.push_back({s.COMMBUFFER[i], s.SHSIG[i], s.COMMTIME[i]});
    for (int i = 1; i <= s.OMITBUFFER.load(); ++i)
        r.omitted.push_back({s.OMITCOMMBUFFER[i], s.OMITSHSIG[i], s.OMITCOMMTIME[i]});
    return r;
}

// A busy host holds up a wake-up now and then by milliseconds, real-time
// scheduling or not (with both cores taken by compilers, 3 to 15 ms was
// seen here, a few times a second). A quarter of the stamps may be that late:
// a fault (a stamp taken after the re-check, in the wrong slot, in the
// wrong unit) moves more of them, or moves them further.
inline constexpr std::int64_t kHiccupUs = 20000;

struct Stamp {
    std::string what;
    std::int64_t lag_us;  // the stamp less the time of its change
};

// Lags against the median lag (the time base, which late stamps cannot
// shift while most are on time): within tolerance_us, but for a quarter of
// them at most that may be late by up to kHiccupUs. Returns what is off,
// empty when the stamps keep time.
inline std::string stamps_off_time(const std::vector<Stamp>& stamps, std::int64_t tolerance_us) {
    std::vector<std::int64_t> lags;
    for (const Stamp& s : stamps) lags.push_back(s.lag_us);
    std::sort(lags.begin(), lags.end());
    const std::int64_t base = lags[lags.size() / 2];
    std::size_t late = 0, wrong = 0;
    std::string off_time;
    for (const Stamp& s : stamps) {
        const std::int64_t off = s.lag_us - base;
        if (std::llabs(off) <= tolerance_us) continue;
        const bool hiccup = off > tolerance_us && off <= kHiccupUs;
        ++(hiccup ? late : wrong);
        off_time += "  " + s.what + " is " + std::to_string(off) + " us off the timeline" +
                    (hiccup ? " (a late wake-up)" : "") + "\n";
    }
    if (wrong == 0 && late <= stamps.size() / 4) return {};
    return std::to_string(late) + " of " + std::to_string(stamps.size()) + " time stamps late (tolerance " +
           std::to_string(tolerance_us) + " us):\n" + off_time;
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
        EXPECT_EQ(e.word, edges[i].word ? platform::MS_CTS_ON : 0u) << what;
        EXPECT_EQ(e.code, SIG_NORMAL) << what;
        stamps.push_back({what, e.time_us - edges[i].at_us});
    }
    ASSERT_EQ(r.omitted.size(), transients.size());
    for (std::size_t i = 0; i < transients.size(); ++i) {
        const RingEvent& o = r.omitted[i];
        EXPECT_EQ(o.code, SIG_INTERFERENCE);
        EXPECT_EQ(o.word, platform::MS_CTS_ON);
        stamps.push_back({"the transient", o.time_us - transients[i].at_us});
    }
}

// Plays the timeline through run_once (a fresh thread each time) and judges
// the ring. A wrong word, code or slot fails at once. Time stamps that are
// off get one more run: a loaded host can hold up more wake-ups in one
// second than the quarter allowed, but a fault in the stamps (taken after the
// re-check, in the wrong unit) is off on every run.
inline void expect_thread_follows(const std::function<RingRecord()>& run_once, const std::vector<Change>& timeline,
                                  std::int64_t tolerance_us) {
    constexpr int kRuns = 2;
    for (int run = 1; run <= kRuns; ++run) {
        const RingRecord ring = run_once();
        if (::testing::Test::HasFailure()) return;
        std::vector<Stamp> stamps;
        check_ring_follows(ring, timeline, stamps);
        if (::testing::Test::HasFailure()) return;
        const std::string off = stamps_off_time(stamps, tolerance_us);
        if (off.empty()) return;
        if (run == kRuns) {
            ADD_FAILURE() << off;
            return;
        }
        std::printf("run %d: %sonce more\n", run, off.c_str());
    }
}

}  // namespace qn::shimtest
