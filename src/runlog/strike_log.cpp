#include "runlog/strike_log.h"

#include "core/context.h"
#include "core/text.h"
#include "serial/serialthread_shorts_xz.h"

namespace qn {

// The event's time and the time since the last accepted event, in
// milliseconds; dataok: that interval past the bounce window.
void StrikeLog::signal_taken(const SignalTaken& r) {
    const std::int64_t interval_ms = (r.event_us - r.last_event_us) / 1000;
    const std::string figures = str(r.event_us / 1000) + "\t" + str(interval_ms);
    const std::string ok = bool_text(r.bounce_ms < interval_ms);
    if (r.chars > 0)
        log_.writeln("Signal=" + str(r.chars) + " dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + figures);
    else if (r.off)
        log_.writeln("Sig_OFF, dataok=" + ok + " thiseventtime(ms)/ signalpulselength(ms)/pulselength lengthsafe?" +
                     figures + "\t" + bool_text(interval_ms >= 40));
    else
        log_.writeln("Sig_ON , dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + figures);
}

void StrikeLog::line_change_missed(const LineChangeMissed& r) {
    log_.writeln(std::string("**ERROR: a COM port state change seems to have been missed (") + r.line_name + ")");
}

void StrikeLog::events_clashed(const EventsClashed& r) {
    log_.writeln("***ERROR- thiseventimemicro clash - bell send will be skipped =" + str(r.stale_event_us));
    log_.writeln("i.e. A keysend was skipped due to delays: Computer lacks power, or is overloaded, or focus lost");
}

// A spurious strike is told by its place in the interval history, a missed
// one by its place in the output records.
void StrikeLog::spacing_judged(const SpacingJudged& r) {
    const std::string due = str(r.stroke_due_us);
    if (r.spacing == Spacing::Spurious) {
        const std::string row = "Row" + str(r.strikes);
        log_.writeln(row + (r.handstroke ? " Spurious handstroke strike at " : " Spurious backstroke strike at ") +
                     due + " ratio=" + fixed(r.ratio, 6, 3));
        if (r.corrected) log_.writeln(row + " Spurious strike ignored");
    } else if (r.spacing == Spacing::Missed) {
        const std::string row = "Row" + str(r.outputs);
        log_.writeln(row + (r.handstroke ? " handstroke strike before " : " backstroke strike before ") + due +
                     " assumed missed, ratio=" + fixed(r.ratio, 6, 3));
        if (r.corrected) log_.writeln(row + " Missed keystroke inserted");
    }
}

void StrikeLog::key_queued(const KeyQueued& r) {
    log_.writeln("Key -> queue to send at time/intvl (ms)\t" + str(r.due_us / 1000) + "\t" +
                 str((r.due_us - r.previous_due_us) / 1000));
}

void StrikeLog::output_list_full(const OutputListFull& r) {
    log_.writeln("Output record list full (" + str(r.capacity) +
                 ") - further strikes are not listed in this touch's event log");
}

// ---- the event log of a touch ----------------------------------------------

void StrikeLog::touch_ended(const TouchEnded& r) {
    if (!r.data_mode) write_ring_events();
    write_omitted_events();
    write_output_records(r);
    log_.flush();
}

// The ring's events since the last event log; slot 0 is the start status.
void StrikeLog::write_ring_events() {
    log_.writeln("COM port thread data");
    log_.writeln("row\ttime\ttimediff\tsignal\tcomment");
    const std::int32_t high = ring_.IHIGHBUFFERPLUSONE.load(std::memory_order_acquire);
    std::int32_t first = event_log_mark_;
    // Events more than a ring's length back have been overwritten: their
    // slots hold later events, so they are not printed as if they were theirs
    // (the oldest slot may be taking the next event as this runs).
    const std::int32_t oldest = high - (COMBUFFERLEN - 2);
    if (first < oldest) {
        log_.writeln("NB " + str(oldest - first) + " earlier events were overwritten before this log");
        first = oldest;
    }
    for (std::int32_t i = first < 0 ? 0 : first; i <= high; ++i) {
        const std::int32_t slot = i == 0 ? 0 : INDEXWRAP(i);
        std::string line = str(i) + "\t" + str(ring_.COMMTIME[slot]) + "\t";
        if (i == 0) {
            line += "\t";
        } else {
            const std::int32_t prev = i - 1 == 0 ? 0 : INDEXWRAP(i - 1);
            line += str(ring_.COMMTIME[slot] - ring_.COMMTIME[prev]) + "\t";
        }
        line += str_u(ring_.COMMBUFFER[slot]) + "\t" + WR(ring_.SHSIG[slot]);
        log_.writeln(line);
    }
    event_log_mark_ = high + 1;
}

void StrikeLog::write_omitted_events() {
    const std::int32_t n = ring_.OMITBUFFER.load();
    if (n <= 0) return;
    log_.writeln("COM port thread data rejections");
    log_.writeln("row\ttime\tBLANK\tsignal\tcomment");
    for (std::int32_t i = 1; i <= n; ++i)
        log_.writeln(str(i) + "\t" + str(ring_.OMITCOMMTIME[i]) + "\t\t" + str_u(ring_.OMITCOMMBUFFER[i]) + "\t" +
                     WR(ring_.OMITSHSIG[i]));
    if (n == COMBUFFERLEN) log_.writeln("NBBuffer got full, might have been more");
}

// Each signal's event time from the touch's first, in seconds.
void StrikeLog::write_output_records(const TouchEnded& r) {
    log_.writeln("Processed sensor data");
    log_.writeln(std::string("row\t") + (r.several_points ? "which_sensor\t" : "") + "COM_event_time_secs\t" +
                 "\tDoubled_key_sent?");
    std::int32_t row = 0;
    for (const Output& o : r.outputs) {
        std::string line = str(++row) + "\t";
        if (r.several_points) line += str(o.point + 1) + "\t";
        line += fixed(static_cast<double>(o.event_us - r.outputs[0].event_us) / 1000000.0, 10, 4);
        if (o.doubled) line += "\t*doubled_key_sent*";
        log_.writeln(line);
    }
}

}  // namespace qn
