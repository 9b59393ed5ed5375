// The strike path in the run log: the rogue strikes and clashes, the
// monitor output's lines (signals, keys queued), and a touch's event log.
#pragma once

#include <cstdint>

#include "core/strike_records.h"

namespace qn {

class RunLog;
class EventRing;

class StrikeLog : public StrikeReport {
public:
    // ring: the serial thread's events, listed in the event log.
    StrikeLog(RunLog& log, const EventRing& ring) : log_(log), ring_(ring) {}

    void signal_taken(const SignalTaken& r) override;
    void line_change_missed(const LineChangeMissed& r) override;
    void events_clashed(const EventsClashed& r) override;
    void spacing_judged(const SpacingJudged& r) override;
    void key_queued(const KeyQueued& r) override;
    void output_list_full(const OutputListFull& r) override;
    void key_overrun(const KeyOverrun& r) override;
    void touch_ended(const TouchEnded& r) override;

    // The ring's first event not yet in an event log.
    std::int32_t event_log_mark() const { return event_log_mark_; }

private:
    void write_ring_events();
    void write_omitted_events();
    void write_output_records(const TouchEnded& r);

    RunLog& log_;
    const EventRing& ring_;
    std::int32_t event_log_mark_ = 0;
};

}  // namespace qn
