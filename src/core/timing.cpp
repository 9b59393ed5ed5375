#include "core/timing.h"

#include "core/text.h"

namespace qn {

void RunClock::start() {
    if (!stopwatch_) stopwatch_ = std::make_unique<Stopwatch>(clock_, threads_);
    stopwatch_->want_ms = true;
    stopwatch_->clear();
    stopwatch_->start();
}

void RunClock::stop() {
    if (!running()) return;
    stopwatch_->stop();
    stopwatch_->clear();
}

bool RunClock::running() const { return running_stopwatch() != nullptr; }

const Stopwatch* RunClock::running_stopwatch() const {
    const Stopwatch* t = stopwatch_.get();
    return t && t->timer.running.load(std::memory_order_relaxed) ? t : nullptr;
}

void RunClock::sleep_whole_ms_until(std::int64_t due_us) {
    const std::int64_t now_us = elapsed_us();
    if (due_us > now_us) threads_.sleep_ms(static_cast<std::int32_t>((due_us - now_us + 999) / 1000));
}

platform::Result<platform::Wake> RunClock::wait_until_us(std::int64_t due_us, std::uint32_t sources, bool precise) {
    const Stopwatch* t = running_stopwatch();
    if (!t) {
        sleep_whole_ms_until(due_us);
        return platform::Wake{0, elapsed_us()};
    }
    auto w = wait_.wait_until(t->counter_at(due_us), sources, precise);
    if (!w.ok()) return w;
    return platform::Wake{w.value().sources, t->micros_at(w.value().at)};
}

void RunClock::wait_ms(std::int32_t ms, std::uint32_t sources) {
    if (!wait_until_us(elapsed_us() + multiply_int64(ms, 1000), sources, false).ok()) threads_.sleep_ms(ms);
}

void RunClock::wait_until_due(std::int64_t due_us) {
    if (!wait_until_us(due_us, 0, true).ok()) sleep_whole_ms_until(due_us);
}

void RunClock::sleep_until_us(std::int64_t due_us) {
    const Stopwatch* t = running_stopwatch();
    if (!t) {
        sleep_whole_ms_until(due_us);
        return;
    }
    wait_.sleep_until(t->counter_at(due_us));
}

std::string RunClock::calibration_line() const {
    const Stopwatch& t = *stopwatch_;
    return "Timer: counter frequency=" + str(clock_.frequency()) + " used=" + str(t.system_ticks.ticks_per_second) +
           " timed-sleep measurement=" + str(t.system_ticks.measured_frequency) +
           " ticksoverhead=" + str(t.system_ticks.ticks_overhead) +
           " sleepoverhead=" + str(t.system_ticks.sleep_overhead) +
           " microsecondclock=" + bool_text(t.microsecond_clock_available);
}

}  // namespace qn
