#include "strokes/outputs.h"

#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/dispatch.h"
#include "strokes/counter.h"

namespace qn {

char line_char(bool b) { return b ? 'T' : 'F'; }

namespace {

// The interval history holds 6000 times. Ringing that never pauses (hours
// of automatic ringing) would fill it: the older half is then dropped, so
// the average interval becomes the average of the recent half.
void push_sensor_time(StrokesState& s, std::int32_t ms) {
    if (s.sensor_time_count >= kMaxRows) {
        const std::int32_t keep = kMaxRows / 2;
        for (std::int32_t i = 1; i <= keep; ++i) s.sensor_ms[i] = s.sensor_ms[kMaxRows - keep + i];
        s.sensor_time_count = keep;
    }
    ++s.sensor_time_count;
    s.sensor_ms[s.sensor_time_count] = ms;
}

void at(Context& c, int col, int line, const std::string& text, std::uint8_t colour) {
    c.screen.text_colour(colour);
    c.screen.move_to(col, line);
    c.screen.write(text);
}

std::string stroke_text(const Context& c, std::int32_t I, const char* hand, const char* back) {
    const SensingPoint& p = c.keyout.points[I];
    const StrokesState& s = c.strokes;
    const bool h = s.handstroke;
    return std::string(h ? hand : back) +
           str(s.outputs_us + multiply_int64(h ? p.hand_delay_ms : p.back_delay_ms, 1000));
}

void statistics_line(Context& c, std::int32_t average) {
    const StrokesState& s = c.strokes;
    at(c, 39, 22, pad_int(average, 4), kWhite);
    at(c, 62, 22, fixed_text(s.min_space_ratio, 5, 3), kWhite);
    at(c, 72, 22, fixed_text(s.max_space_ratio, 5, 3), kWhite);
}

}  // namespace

Spacing fix_rogue_strikes(Context& c, std::int32_t I) {
    StrokesState& s = c.strokes;
    push_sensor_time(s, static_cast<std::int32_t>(s.outputs_us / 1000));
    if (s.sensor_time_count <= 8) return Spacing::Normal;
    full_window(c);

    const std::int32_t n = s.sensor_time_count;
    const std::int32_t average = (s.sensor_ms[n - 1] - s.sensor_ms[1]) / (n - 2);
    // All times equal would leave the ratio undefined: such a strike is
    // taken as a normal one.
    s.space_ratio = average > 0 ? static_cast<double>(s.sensor_ms[n] - s.sensor_ms[n - 1]) / average : 1.0;
    if (s.space_ratio < s.min_space_ratio) s.min_space_ratio = s.space_ratio;
    if (s.space_ratio > s.max_space_ratio) s.max_space_ratio = s.space_ratio;

    if (s.space_ratio < c.cfg.space_ratio_low) {
        ++s.rogue_count;
        at(c, 28, 23, pad_int(s.rogue_count, 4), kYellow);
        at(c, 32 + 6 * ((s.rogue_count - 1) % 8), 23, std::string(" ") + fixed_text(s.space_ratio, 5, 3), kYellow);
        c.screen.text_colour(kWhite);
        c.run_log.write_line("Row" + str(n) +
                           stroke_text(c, I, " Spurious handstroke strike at ", " Spurious backstroke strike at ") +
                           " ratio=" + fixed_text(s.space_ratio, 6, 3));
        if (c.keyout.use_doubled_send) {
            c.run_log.write_line("Row" + str(n) + " Spurious strike ignored");
            --s.sensor_time_count;  // the next ratio is measured from the last good strike
            return Spacing::Spurious;
        }
        statistics_line(c, average);
        return Spacing::Spurious;
    } else if (s.space_ratio > c.cfg.space_ratio_high) {
        ++s.missed_count;
        at(c, 28, 24, pad_int(s.missed_count, 4), kYellow);
        at(c, 32 + 6 * ((s.missed_count - 1) % 8), 24, std::string(" ") + fixed_text(s.space_ratio, 6, 3), kYellow);
        c.screen.text_colour(kWhite);
        push_sensor_time(s, static_cast<std::int32_t>(s.outputs_us / 1000));
        c.run_log.write_line("Row" + str(s.output_count) +
                           stroke_text(c, I, " handstroke strike before ", " backstroke strike before ") +
                           " assumed missed, ratio=" + fixed_text(s.space_ratio, 6, 3));
        if (c.keyout.use_doubled_send) {
            s.handstroke = !s.handstroke;  // the missed stroke is counted
            c.run_log.write_line("Row" + str(s.output_count) + " Missed keystroke inserted");
        }
        s.doubled_send = true;
        statistics_line(c, average);
        return Spacing::Missed;
    }
    at(c, 28, 25, pad_int(s.sensor_time_count, 4), kWhite);
    at(c, 32 + 6 * ((s.sensor_time_count - 1) % 8), 25, std::string(" ") + fixed_text(s.space_ratio, 5, 3), kLightGray);
    c.screen.text_colour(kWhite);
    statistics_line(c, average);
    return Spacing::Normal;
}

// The row counter follows the rows rung. With the correction of rogue
// strikes on, a spurious strike is no row (it is left out of the spacing
// too), and a missed one, made up with a doubled key, is one. Counting the
// signals instead left a peal of 5040 rows showing 5040 plus the spurious
// strikes less the missed ones.
static void count_row(Context& c, Spacing spacing) {
    StrokesState& s = c.strokes;
    const bool corrected = c.keyout.use_doubled_send;
    if (corrected && spacing == Spacing::Spurious) return;
    s.row_count += corrected && spacing == Spacing::Missed ? 2 : 1;
    if (s.row_count == 1) reset_counter_state(c);
}

void schedule_outputs(Context& c) {
    StrokesState& s = c.strokes;
    KeyoutState& k = c.keyout;
    ++s.sensing_point;
    s.doubled_send = false;
    Spacing first_point = Spacing::Normal;
    for (std::int32_t I = 1; I <= k.sensors_active && I <= kMaxSensors; ++I) {
        if (k.points[I].sensor != s.sensing_point) continue;
        s.outputs_us = elapsed_us(c);
        const Spacing spacing = fix_rogue_strikes(c, I);
        if (I == 1) first_point = spacing;
        const SensingPoint& p = k.points[I];
        // Scheduled from the processing time; the event time is only recorded.
        // The strike sits in the middle of a sensor pulse, so half the pulse
        // is added. With ON/OFF sensing each edge is a stroke of its own and
        // the "pulse" is a whole stroke long: nothing is added then.
        const std::int32_t half_pulse = c.cfg.off_and_on_are_signals ? 0 : c.cfg.mean_signal_ms;
        const std::int64_t due = s.outputs_us + multiply_int64(s.handstroke ? p.hand_delay_ms : p.back_delay_ms, 1000) +
                                 multiply_int64(half_pulse, 500);
        s.key_due_unadjusted_us[I] = due;
        s.key_due_us[I] = due;
        s.key_pending[I] = true;
        if (c.cfg.monitor_output)
            c.run_log.write_line("Key -> queue to send at time/intvl (ms)\t" + str(due / 1000) + "\t" +
                               str((due - s.last_key_due_us[I]) / 1000));
        // The records only feed the event log; a list filled by ringing that
        // never pauses stops taking records until the next pause empties it.
        if (s.output_count < kMaxRows) {
            ++s.output_count;
            s.outputs[s.output_count] = Output{I, s.event_us, false};
        } else if (!s.outputs_full_logged) {
            s.outputs_full_logged = true;
            c.run_log.write_line("Output record list full (" + str(kMaxRows) +
                               ") - further strikes are not listed in this touch's event log");
        }
        s.last_key_due_us[I] = due;
        if (due <= s.outputs_us) send_due_keys(c);
    }
    s.last_row_us = s.outputs_us;
    if (k.points[1].sensor == s.sensing_point) count_row(c, first_point);
    if (s.sensing_point == c.cfg.sensor_count) s.sensing_point = 0;
}

}  // namespace qn
