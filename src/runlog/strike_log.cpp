#include "runlog/strike_log.h"

#include "core/text.h"
#include "runlog/run_log.h"
#include "serial/event_ring.h"

namespace qn {

// The event's time and the time since the last accepted event, in
// milliseconds; dataok: that interval past the bounce window.
void StrikeLog::signal_taken(const SignalTaken& r) {
    const std::int64_t interval_ms = (r.event_us - r.last_event_us) / 1000;
    const std::string figures = str(r.event_us / 1000) + "\t" + str(interval_ms);
    const std::string ok = bool_text(r.bounce_ms < interval_ms);
    if (r.chars > 0)
        log_.write_line("Signal=" + str(r.chars) + " dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + figures);
    else if (r.off)
        log_.write_line("Sig_OFF, dataok=" + ok + " thiseventtime(ms)/ signalpulselength(ms)/pulselength lengthsafe?" +
                     figures + "\t" + bool_text(interval_ms >= 40));
    else
        log_.write_line("Sig_ON , dataok=" + ok + " thiseventtime(ms)/ interval(ms)" + figures);
}

void StrikeLog::line_change_missed(const LineChangeMissed& r) {
    log_.write_line(std::string("**ERROR: a COM port state change seems to have been missed (") + r.line_name + ")");
}

void StrikeLog::events_clashed(const EventsClashed& r) {
    log_.write_line("***ERROR- thiseventimemicro clash - bell send will be skipped =" + str(r.stale_event_us));
    log_.write_line("i.e. A keysend was skipped due to delays: Computer lacks power, or is overloaded, or focus lost");
}

// A spurious strike is told by its place in the interval history, a missed
// one by its place in the output records.
void StrikeLog::spacing_judged(const SpacingJudged& r) {
    if (r.bell != 0 && r.spacing != Spacing::Normal) log_.write_line("Bell " + str(r.bell) + ":");
    const std::string due = str(r.stroke_due_us);
    if (r.spacing == Spacing::Spurious) {
        const std::string row = "Row" + str(r.strikes);
        log_.write_line(row + (r.handstroke ? " Spurious handstroke strike at " : " Spurious backstroke strike at ") +
                     due + " ratio=" + fixed_text(r.ratio, 6, 3));
        if (r.corrected) log_.write_line(row + " Spurious strike ignored");
    } else if (r.spacing == Spacing::Missed) {
        const std::string row = "Row" + str(r.outputs);
        log_.write_line(row + (r.handstroke ? " handstroke strike before " : " backstroke strike before ") + due +
                     " assumed missed, ratio=" + fixed_text(r.ratio, 6, 3));
        if (r.corrected) log_.write_line(row + " Missed keystroke inserted");
    } else if (r.spacing == Spacing::Paused) {
        log_.write_line("Row" + str(r.outputs) + " pause before the strike at " + due + ", ratio=" +
                        fixed_text(r.ratio, 6, 3) + " - no keystroke inserted, the strokes go on");
    }
}

void StrikeLog::key_queued(const KeyQueued& r) {
    log_.write_line("Key -> queue to send at time/intvl (ms)\t" + str(r.due_us / 1000) + "\t" +
                 str((r.due_us - r.previous_due_us) / 1000));
}

void StrikeLog::key_overrun(const KeyOverrun& r) {
    log_.write_line("Key lost: the next signal came " + str(r.gap_ms) + " ms after the last, before the key due at " +
                    str(r.lost_due_us / 1000) + " - blows closer than the key delay (" + str(r.delay_ms) +
                    " ms): shorten the delay or ring slower");
}

void StrikeLog::output_list_full(const OutputListFull& r) {
    log_.write_line("Output record list full (" + str(r.capacity) +
                 ") - further strikes are not listed in this touch's event log");
}

// ---- the event log of a touch ----------------------------------------------

void StrikeLog::touch_ended(const TouchEnded& r) {
    if (!r.data_mode) write_ring_events();
    write_omitted_events();
    write_output_records(r);
    log_.flush();
}

// The ring's events since the last event log; event 0 is the start status.
void StrikeLog::write_ring_events() {
    log_.write_line("COM port thread data");
    log_.write_line("row\ttime\ttimediff\tsignal\tcomment");
    const std::int32_t high = ring_.recorded();
    std::int32_t first = event_log_mark_;
    // Events more than a ring's length back have been overwritten: their
    // slots hold later events, so they are not printed as if they were theirs
    // (the oldest slot may be taking the next event as this runs).
    const std::int32_t oldest = high - (kEventRingSize - 2);
    if (first < oldest) {
        log_.write_line("NB " + str(oldest - first) + " earlier events were overwritten before this log");
        first = oldest;
    }
    for (std::int32_t i = first < 0 ? 0 : first; i <= high; ++i) {
        const LineEvent& e = ring_.event(i);
        std::string line = str(i) + "\t" + str(e.time_us) + "\t";
        if (i == 0)
            line += "\t";
        else
            line += str(e.time_us - ring_.event(i - 1).time_us) + "\t";
        line += str_u(e.status) + "\t" + shape_comment(e.shape);
        log_.write_line(line);
    }
    event_log_mark_ = high + 1;
}

void StrikeLog::write_omitted_events() {
    const std::int32_t n = ring_.omitted_count();
    if (n <= 0) return;
    log_.write_line("COM port thread data rejections");
    log_.write_line("row\ttime\tBLANK\tsignal\tcomment");
    for (std::int32_t i = 0; i < n; ++i) {
        const LineEvent& e = ring_.omitted(i);
        log_.write_line(str(i + 1) + "\t" + str(e.time_us) + "\t\t" + str_u(e.status) + "\t" + shape_comment(e.shape));
    }
    if (n == kEventRingSize) log_.write_line("NBBuffer got full, might have been more");
}

// Each signal's event time from the touch's first, in seconds.
void StrikeLog::write_output_records(const TouchEnded& r) {
    log_.write_line(r.bell != 0 ? "Processed sensor data of bell " + str(r.bell) : std::string("Processed sensor data"));
    log_.write_line(std::string("row\t") + (r.several_points ? "which_sensor\t" : "") + "COM_event_time_secs\t" +
                 "\tDoubled_key_sent?");
    std::int32_t row = 0;
    for (const Output& o : r.outputs) {
        std::string line = str(++row) + "\t";
        if (r.several_points) line += str(o.point + 1) + "\t";
        line += fixed_text(static_cast<double>(o.event_us - r.outputs[0].event_us) / 1000000.0, 10, 4);
        if (o.doubled) line += "\t*doubled_key_sent*";
        log_.write_line(line);
    }
}

}  // namespace qn
