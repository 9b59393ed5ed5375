// The watch loop: events of the serial thread's ring (signals mode) or
// characters of an interface box (data mode) become signals, once past the
// bounce window of the last accepted one.
#pragma once

#include <array>
#include <cstdint>
#include <functional>

#include "config/settings.h"
#include "core/sensing_records.h"
#include "core/strike_records.h"
#include "core/text_sink.h"
#include "core/timing.h"

namespace qn {

class WatchLoop {
public:
    static constexpr int kLines = 4;  // CTS, DSR, CD, RI

    WatchLoop(const Settings& settings, StrikeReport& report) : settings_(settings), report_(report) {}
    // Data mode: the character of the bell this loop watches (none set:
    // the settings' usedatinputchar).
    void watch_char(char ch) { data_char_ = ch; }

    // Signals mode. The lines' states before the first event of the ring.
    void start_lines(std::uint32_t status);
    // The ring's next event. An event time still set from the one before
    // is a clash, reported; the event goes ahead.
    void begin_event(std::int64_t event_us);
    // The event's status word, one watched line at a time: true when the
    // line's change is a signal.
    bool take_line(int line, std::uint32_t word);
    bool watches(int line) const;

    // Data mode: count characters read, arrived at event_us. True when one
    // of them is the bell's, past the bounce window of its last one; other
    // bells' characters neither count nor start a window.
    bool take_chars(const char* chars, std::int32_t count, std::int64_t event_us);

    // The event has been dealt with.
    void end_event() { event_us_ = kNoEventTime; }
    // A new touch: the bounce window runs from now_us.
    void restart(std::int64_t now_us) { last_event_us_ = now_us; }

    // What the loop's wait saw of the port (data mode): a byte arriving at
    // arrival_us, or nothing while it watched. Before each wait the port
    // may have a byte again.
    void port_may_have_byte() { port_may_have_byte_ = true; }
    void port_quiet() { port_may_have_byte_ = false; }
    void byte_arrived(std::int64_t arrival_us) { byte_arrival_us_ = arrival_us; }
    bool look_at_port() const { return port_may_have_byte_; }
    // The arrival seen, once (-1: none seen).
    std::int64_t take_arrival();

    std::int64_t event_us() const { return event_us_; }
    std::int64_t last_event_us() const { return last_event_us_; }
    std::int64_t byte_arrival_us() const { return byte_arrival_us_; }
    bool line_was_on(int line) const { return was_on_[static_cast<std::size_t>(line)]; }
    std::int32_t clashes() const { return clashes_; }

private:
    // Every event inside the bounce window of the last accepted one is
    // bounce. Calibration treats a gap shorter than the window the same way.
    bool past_bounce() const;
    void report_taken(bool off, std::int32_t chars);

    const Settings& settings_;
    StrikeReport& report_;
    std::array<bool, kLines> was_on_{};
    std::int64_t event_us_ = kNoEventTime;
    std::int64_t last_event_us_ = 0;
    std::int32_t clashes_ = 0;
    std::int64_t byte_arrival_us_ = -1;
    bool port_may_have_byte_ = true;
    char data_char_ = '\0';
};

class Sensing;
class StrikePath;
class Band;

// The watch loop on the sensing side: each signal it takes goes to
// on_signal (the keys of its sensing points queued and sent).
class PortWatch {
public:
    // In band mode (band on) each character goes to its bell's path, and
    // on_bell_signal is told the bell's index in the band.
    PortWatch(const Settings& settings, Sensing& sensing, StrikePath& strikes, Band& band, SensingReport& report,
              const RunClock& clock, TextSink& log, std::function<void()> on_signal,
              std::function<void(std::size_t)> on_bell_signal)
        : settings_(settings),
          sensing_(sensing),
          strikes_(strikes),
          band_(band),
          report_(report),
          clock_(clock),
          log_(log),
          on_signal_(std::move(on_signal)),
          on_bell_signal_(std::move(on_bell_signal)) {}

    // Takes at most one sensor event; always returns true.
    bool watch_once();

private:
    void stop_if_port_lost();
    void watch_signals(WatchLoop& watch);
    void watch_data(WatchLoop& watch);

    const Settings& settings_;
    Sensing& sensing_;
    StrikePath& strikes_;
    Band& band_;
    SensingReport& report_;
    const RunClock& clock_;
    TextSink& log_;
    std::function<void()> on_signal_;
    std::function<void(std::size_t)> on_bell_signal_;
};

}  // namespace qn
