// What the strike path decides, as records, and the report it tells them
// to. The watch loop, the spacing judge, the key queue and the row counter
// decide; the screen regions and the run log observe and word what they are
// told. A record carries every number its texts print, with times in
// microseconds or milliseconds as named and indexes from 0.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/fan_out.h"

namespace qn {

// How a signal's spacing was judged against the strikes before it.
// Paused: a gap longer than a missed strike can make (the ringer stopped
// for a moment and went on); no key is made up and the stroke goes on.
enum class Spacing { Normal, Spurious, Missed, Paused };

// A line change or a character the watch loop took as a signal's edge
// (past the bounce window), told when the monitor output is on.
struct SignalTaken {
    std::int64_t event_us = 0;
    std::int64_t last_event_us = 0;  // the accepted event before it
    std::int32_t bounce_ms = 0;      // the bounce window it was judged against
    bool off = false;                // signals mode: the line went off
    std::int32_t chars = 0;          // data mode: the characters read; 0 in signals mode
};

// Signals mode, told when the monitor output is on: a line reported in the
// state it already had, so a change between was lost. line_name: "cts", "dsr", "cd" or "ri".
struct LineChangeMissed {
    const char* line_name = "";
};

// An event arrived while the one before still held the current event time.
struct EventsClashed {
    std::int32_t clashes = 0;      // this run's, this one included
    std::int64_t stale_event_us = 0;
};

// A strike judged against the interval history (from its ninth strike on).
struct SpacingJudged {
    Spacing spacing = Spacing::Normal;
    std::int32_t point = 0;           // the sensing point
    std::int32_t strikes = 0;         // strikes in the history, this one included
    std::int32_t outputs = 0;         // output records of the touch before this strike's
    double ratio = 0;                 // this interval over the average
    std::int32_t average_ms = 0;
    double min_ratio = 1.0, max_ratio = 1.0;
    std::int32_t spurious = 0, missed = 0;  // the touch's counts so far
    bool handstroke = false;          // the stroke the strike was taken at
    std::int64_t stroke_due_us = 0;   // processing time plus that stroke's key delay
    bool corrected = false;           // doubled send: spurious strikes dropped, missed ones made up
    std::int32_t bell = 0;            // in band mode the bell, from 1; 0 for the one ringer's bell
};

// A sensing point's key scheduled, told when the monitor output is on.
struct KeyQueued {
    std::int32_t point = 0;
    std::int64_t due_us = 0;
    std::int64_t previous_due_us = 0;  // the point's key before it
};

// Every key scheduled, whatever the monitor output: when its signal came,
// when the key sounds and the delay that put it there. The striking report
// times the ringer's blows by it.
struct BlowTimed {
    std::int32_t point = 0;
    std::int64_t event_us = 0;
    std::int64_t due_us = 0;
    std::int32_t delay_ms = 0;        // the stroke's key delay (half the signal is added besides)
    bool handstroke = false;          // the stroke the key is for
    Spacing spacing = Spacing::Normal;  // as judged (Normal before the ninth strike)
    std::int32_t bell = 0;  // in band mode the bell, from 1; 0 for the one ringer's bell
};

// The touch's list of output records is full; later strikes are not listed.
struct OutputListFull {
    std::int32_t capacity = 0;
};

// A signal came before the point's key of the signal before was due: that
// key is lost, as each point holds one. The
// blows come closer than the key delay, which no real bell can do.
struct KeyOverrun {
    std::int32_t point = 0;
    std::int64_t lost_due_us = 0;  // when the lost key was due
    std::int32_t gap_ms = 0;       // from the signal before to this one, as their events were timed
    std::int32_t delay_ms = 0;     // the key delay in force
    std::int32_t lost = 0;         // keys lost so in this touch, this one included
};

// The row counter moved on.
struct RowCounted {
    std::int32_t rows = 0;
};

// A touch starts: its clock runs from at_ms.
struct TouchStarted {
    std::int64_t at_ms = 0;
};

// A signal made into a key, for the touch's event log.
struct Output {
    std::int32_t point = 0;
    std::int64_t event_us = 0;
    bool doubled = false;  // the made-up key of a missed strike went with it
};

enum class TouchEnd { Pause, ListFull, PortLost, RunEnded };

// The touch's event log is due: ringing paused, the output list filled, the
// port went, or the run is ending during the touch.
struct TouchEnded {
    TouchEnd why = TouchEnd::Pause;
    std::span<const Output> outputs;
    bool several_points = false;  // the log names each record's sensing point
    bool data_mode = false;       // no line events to list
    std::int32_t bell = 0;        // in band mode the bell whose list it is, from 1
};

// Automatic ringing: the beat of a row at which the ringer's bell should
// sound, told by the driver when that beat comes. Rows are the touch's,
// from the first row of rounds (-6); places and bells from 1.
struct RingerBeat {
    std::int32_t row = 0;
    bool handstroke = false;
    std::int32_t bells = 0;        // in the row
    std::int32_t bell = 0;         // the ringer's
    std::int32_t place = 0;        // its place in the row
    std::int32_t bell_before = 0;  // the bell it follows; 0 when it leads
    std::int64_t ideal_us = 0;     // when the other bells' beat puts it
    std::int64_t beat_us = 0;      // between two blows; the handstroke gap is one beat
};

// Over a tower link: another ringer's bell, as the tower told of it, when
// the word arrived (the network's delay is in that time).
struct BellHeard {
    std::int32_t bell = 0;
    bool handstroke = false;
    std::int64_t at_us = 0;
    std::int64_t network_us = -1;  // the link's one-way delay to the tower then (-1: not known)
    std::int64_t spread_us = 0;
    std::int64_t lead_us = -1;     // how early our rings went then (-1: not sent ahead)
};

// Told what the strike path decides. Every call has an empty default, so an
// observer implements only what it shows.
class StrikeReport {
public:
    virtual ~StrikeReport() = default;
    virtual void signal_taken(const SignalTaken&) {}
    virtual void line_change_missed(const LineChangeMissed&) {}
    virtual void events_clashed(const EventsClashed&) {}
    virtual void spacing_judged(const SpacingJudged&) {}
    virtual void key_queued(const KeyQueued&) {}
    virtual void blow_timed(const BlowTimed&) {}
    virtual void output_list_full(const OutputListFull&) {}
    virtual void key_overrun(const KeyOverrun&) {}
    virtual void row_counted(const RowCounted&) {}
    virtual void touch_started(const TouchStarted&) {}
    virtual void touch_ended(const TouchEnded&) {}
    virtual void ringer_beat(const RingerBeat&) {}
    virtual void bell_heard(const BellHeard&) {}
};

// One report told to several observers, in the order they were added.
class StrikeReportFanOut : public FanOut<StrikeReport, 6> {
public:
    void signal_taken(const SignalTaken& r) override { each(&StrikeReport::signal_taken, r); }
    void line_change_missed(const LineChangeMissed& r) override { each(&StrikeReport::line_change_missed, r); }
    void events_clashed(const EventsClashed& r) override { each(&StrikeReport::events_clashed, r); }
    void spacing_judged(const SpacingJudged& r) override { each(&StrikeReport::spacing_judged, r); }
    void key_queued(const KeyQueued& r) override { each(&StrikeReport::key_queued, r); }
    void blow_timed(const BlowTimed& r) override { each(&StrikeReport::blow_timed, r); }
    void output_list_full(const OutputListFull& r) override { each(&StrikeReport::output_list_full, r); }
    void key_overrun(const KeyOverrun& r) override { each(&StrikeReport::key_overrun, r); }
    void row_counted(const RowCounted& r) override { each(&StrikeReport::row_counted, r); }
    void touch_started(const TouchStarted& r) override { each(&StrikeReport::touch_started, r); }
    void touch_ended(const TouchEnded& r) override { each(&StrikeReport::touch_ended, r); }
    void ringer_beat(const RingerBeat& r) override { each(&StrikeReport::ringer_beat, r); }
    void bell_heard(const BellHeard& r) override { each(&StrikeReport::bell_heard, r); }
};

}  // namespace qn
