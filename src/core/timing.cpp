#include "core/timing.h"

#include "core/context.h"
#include "core/text.h"

namespace qn {

void start_stopwatch(Context& c) {
    if (!c.timing.owner) c.timing.owner = std::make_unique<Stopwatch>(*c.plat.clock, *c.plat.threads);
    c.timing.stopwatch = c.timing.owner.get();
    c.timing.stopwatch->want_ms = true;
    c.timing.stopwatch->clear();
    c.timing.stopwatch->start();
    c.timing.stopwatch_running = true;
}

void stop_stopwatch(Context& c) {
    if (!c.timing.stopwatch_running) return;
    c.timing.stopwatch->stop();
    c.timing.stopwatch->clear();
    c.timing.stopwatch_running = false;
}

std::int64_t elapsed_us(const TimingState& t) { return t.stopwatch ? t.stopwatch->elapsed_us() : 0; }

std::int64_t elapsed_ms(const TimingState& t) { return t.stopwatch ? t.stopwatch->elapsed_ms() : 0; }

std::int64_t elapsed_us(const Context& c) { return elapsed_us(c.timing); }

std::int64_t serial_elapsed_us(const Context& c) {
    const Stopwatch* t = c.timing.serial_stopwatch ? c.timing.serial_stopwatch : c.timing.stopwatch;
    return t ? t->elapsed_us() : 0;
}

std::int64_t elapsed_ms(const Context& c) { return elapsed_ms(c.timing); }

void start_serial_stopwatch(Context& c) {
    c.timing.stopwatch->stop();
    c.timing.serial_stopwatch = c.timing.stopwatch;
    c.timing.stopwatch->start();
    c.timing.serial_stopwatch_running = true;
}

std::int64_t multiply_int64(std::int32_t a, std::int32_t b) {
    return static_cast<std::int64_t>(a) * static_cast<std::int64_t>(b);
}

// Where no precise wait can be had (the stopwatch stopped on the way out,
// or the wait service failed): whole milliseconds of sleep until due_us.
static void sleep_whole_ms_until(Context& c, std::int64_t due_us, std::int64_t now_us) {
    if (due_us > now_us) c.plat.threads->sleep_ms(static_cast<std::int32_t>((due_us - now_us + 999) / 1000));
}

platform::Result<platform::Wake> wait_until_micros(Context& c, std::int64_t due_us, std::uint32_t sources,
                                                   bool precise) {
    const Stopwatch* t = c.timing.stopwatch;
    // A stopwatch that is not running (on the way out) has no deadlines:
    // whole milliseconds are slept then.
    if (!t || !t->timer.running.load(std::memory_order_relaxed)) {
        sleep_whole_ms_until(c, due_us, elapsed_us(c));
        return platform::Wake{0, elapsed_us(c)};
    }
    auto w = c.plat.wait->wait_until(t->counter_at(due_us), sources, precise);
    if (!w.ok()) return w;
    return platform::Wake{w.value().sources, t->micros_at(w.value().at)};
}

void wait_for(Context& c, std::int32_t ms, std::uint32_t sources) {
    auto r = wait_until_micros(c, elapsed_us(c) + multiply_int64(ms, 1000), sources, false);
    if (!r.ok()) c.plat.threads->sleep_ms(ms);
}

void wait_until_due(Context& c, std::int64_t due_us) {
    if (!wait_until_micros(c, due_us, 0, true).ok()) sleep_whole_ms_until(c, due_us, elapsed_us(c));
}

void sleep_until_micros(Context& c, std::int64_t due_us) {
    const Stopwatch* t = c.timing.serial_stopwatch ? c.timing.serial_stopwatch : c.timing.stopwatch;
    if (!t || !t->timer.running.load(std::memory_order_relaxed)) {
        sleep_whole_ms_until(c, due_us, serial_elapsed_us(c));
        return;
    }
    c.plat.wait->sleep_until(t->counter_at(due_us));
}

void log_timer_calibration(Context& c) {
    const Stopwatch& t = *c.timing.stopwatch;
    c.run_log.write_line("Timer: counter frequency=" + str(c.plat.clock->frequency()) +
                       " used=" + str(t.system_ticks.ticks_per_second) +
                       " timed-sleep measurement=" + str(t.system_ticks.measured_frequency) +
                       " ticksoverhead=" + str(t.system_ticks.ticks_overhead) +
                       " sleepoverhead=" + str(t.system_ticks.sleep_overhead) +
                       " microsecondclock=" + bool_text(t.microsecond_clock_available));
}

}  // namespace qn
