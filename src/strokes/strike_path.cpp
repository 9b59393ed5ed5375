#include "strokes/strike_path.h"

#include "core/timing.h"

namespace qn {

StrikePath::StrikePath(const Settings& settings, const CurrentTarget& target, const RunClock& timing,
                       StrikeReport& report)
    : settings_(settings),
      target_(target),
      timing_(timing),
      report_(report),
      watch_(settings, report),
      judge_(settings),
      rows_(timing, report) {}

void StrikePath::begin_signal() {
    ++cycle_;
    keys_.set_doubled_due(false);
    first_point_spacing_ = Spacing::Normal;
}

std::int32_t StrikePath::points() const { return target_.sensors_active() < kMaxSensors ? target_.sensors_active() : kMaxSensors; }

bool StrikePath::signal_reaches(std::int32_t point) const { return target_.point(point).sensor == cycle_; }

std::int32_t StrikePath::delay_ms(std::int32_t point) const {
    const SensingPoint& p = target_.point(point);
    return keys_.handstroke() ? p.hand_delay_ms : p.back_delay_ms;
}

// Judged from the ninth strike of a touch on. A missed strike is made up
// with a doubled key when doubled send is on, and that key counts as the
// stroke missed.
Spacing StrikePath::judge_spacing(std::int32_t point) {
    const bool corrected = target_.use_doubled_send();
    std::optional<SpacingJudged> judged = judge_.judge(static_cast<std::int32_t>(processed_us_ / 1000), corrected);
    if (!judged) return Spacing::Normal;
    judged->point = point;
    judged->outputs = keys_.output_count();
    judged->handstroke = keys_.handstroke();
    judged->stroke_due_us = processed_us_ + multiply_int64(delay_ms(point), 1000);
    report_.spacing_judged(*judged);
    if (judged->spacing == Spacing::Missed) {
        if (corrected) keys_.turn_stroke();
        keys_.set_doubled_due(true);
    }
    return judged->spacing;
}

// Scheduled from the processing time; the event time is only recorded.
// The strike sits in the middle of a sensor pulse, so half the pulse is
// added. With ON/OFF sensing each edge is a stroke of its own and the
// "pulse" is a whole stroke long: nothing is added then.
bool StrikePath::queue_key(std::int32_t point) {
    processed_us_ = timing_.elapsed_us();
    const Spacing spacing = judge_spacing(point);
    if (point == 0) first_point_spacing_ = spacing;
    const std::int32_t half_pulse = settings_.off_and_on_are_signals ? 0 : settings_.mean_signal_ms;
    const std::int64_t due = processed_us_ + multiply_int64(delay_ms(point), 1000) + multiply_int64(half_pulse, 500);
    // Told only when the blows themselves came closer than the delay: a key
    // already due and still waiting (the target's window not found), or two
    // signals taken at once after a wait, are not the blows' doing.
    const std::int64_t gap_us = watch_.event_us() - last_event_us_;
    if (keys_.pending(point) && keys_.due_us(point) > processed_us_ && last_event_us_ >= 0 &&
        gap_us < multiply_int64(delay_ms(point), 1000)) {
        ++keys_lost_;
        report_.key_overrun(
            KeyOverrun{point, keys_.due_us(point), static_cast<std::int32_t>(gap_us / 1000), delay_ms(point), keys_lost_});
    }
    const std::int64_t before = keys_.queue(point, due);
    if (settings_.monitor_output) report_.key_queued(KeyQueued{point, due, before});
    report_.blow_timed(BlowTimed{point, watch_.event_us(), due, delay_ms(point), keys_.handstroke(), spacing});
    // The records only feed the event log.
    if (!keys_.record(point, watch_.event_us()) && !output_list_full_reported_) {
        output_list_full_reported_ = true;
        report_.output_list_full(OutputListFull{kMaxRows});
    }
    return due <= processed_us_;
}

void StrikePath::end_signal() {
    last_signal_us_ = processed_us_;
    last_event_us_ = watch_.event_us();
    if (signal_reaches(0)) rows_.count(first_point_spacing_, target_.use_doubled_send());
    if (cycle_ == settings_.sensor_count) cycle_ = 0;
}

void StrikePath::log_touch(TouchEnd why) {
    report_.touch_ended(TouchEnded{why, keys_.outputs(), target_.sensors_active() > 1, settings_.rest_on_mode});
    if (why == TouchEnd::PortLost) return;
    keys_.clear_outputs();
    output_list_full_reported_ = false;
}

void StrikePath::restart_touch(std::int64_t now_us) {
    rows_.zero();
    judge_.restart();
    keys_lost_ = 0;
    last_event_us_ = -1;
    keys_.set_doubled_due(false);
    cycle_ = 0;
    last_signal_us_ = now_us;
    watch_.restart(now_us);
}

}  // namespace qn
