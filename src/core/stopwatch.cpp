#include "core/stopwatch.h"

namespace qn {

Stopwatch::Stopwatch(platform::Clock& clock, platform::Threads& threads)
    : clock_(clock), threads_(threads) {
    precision = 6;
    want_ms = true;
    want_days = true;

    system_ticks.calibration = {false, false, 5, 10, 1, 100};
    system_ticks.available = true;
    hardware_ticks.calibration = {false, false, 10, 20, 1, 150};
    hardware_ticks.ticks_per_second = 1;
    hardware_ticks.hardware = true;
    if (clock_.tsc_available()) {
        // Prepared as the original design has it, never selected.
        hardware_ticks.available = calibrate_call_overheads(hardware_ticks) == 0;
    }

    overhead_result = calibrate_call_overheads(system_ticks);
    calibrate_tick_frequency(system_ticks);

    // The frequency the counter reports is the rate of every time in the
    // program. A timed sleep overshoots by up to a timer tick (15.6 ms on
    // Windows), which would make all times run several percent slow; the
    // measurement is kept for the log only.
    system_ticks.ticks_per_second = clock_.frequency();
    if (system_ticks.ticks_per_second > kDefaultTicksPerSecond - kSystemTicksRangeLimit &&
        system_ticks.ticks_per_second < kDefaultTicksPerSecond + kSystemTicksRangeLimit) {
        system_ticks.ticks_per_second = kDefaultTicksPerSecond;
        microsecond_clock_available = true;
    } else {
        microsecond_clock_available = false;
    }
    if (system_ticks.ticks_per_second <= 0) system_ticks.ticks_per_second = 1;

    selected_time_base = TimeBaseSource::System;
    clear();
}

std::int64_t Stopwatch::read_ticks(const TimeBase& tb) const {
    return tb.hardware ? clock_.tsc() : clock_.counter();
}

std::int32_t Stopwatch::system_sleep(std::int32_t ms) {
    threads_.sleep_ms(ms);
    return 0;
}

std::int32_t Stopwatch::calibrate_call_overheads(TimeBase& tb) {
    std::int64_t sum = 0;
    for (int i = 0; i < tb.calibration.tick_iterations; ++i) {
        std::int64_t a = read_ticks(tb);
        std::int64_t b = read_ticks(tb);
        sum += b - a;
    }
    tb.ticks_overhead = tb.calibration.tick_iterations > 0 ? sum / tb.calibration.tick_iterations : 0;

    sum = 0;
    for (int i = 0; i < tb.calibration.sleep_iterations; ++i) {
        std::int64_t a = read_ticks(tb);
        if (system_sleep(0) != 0) return 1;
        std::int64_t b = read_ticks(tb);
        sum += (b - a) - tb.ticks_overhead;
    }
    tb.sleep_overhead = tb.calibration.sleep_iterations > 0 ? sum / tb.calibration.sleep_iterations : 0;
    tb.calibration.overhead_calibrated = true;
    return 0;
}

std::int32_t Stopwatch::calibrate_tick_frequency(TimeBase& tb) {
    std::int64_t sum = 0;
    int n = tb.calibration.frequency_iterations;
    for (int i = 0; i < n; ++i) {
        std::int64_t a = read_ticks(tb);
        system_sleep(tb.calibration.frequency_gate_ms);
        std::int64_t b = read_ticks(tb);
        sum += (b - a) - (tb.sleep_overhead + tb.ticks_overhead);
    }
    if (n > 0 && tb.calibration.frequency_gate_ms > 0) {
        double mean = static_cast<double>(sum) / n;
        tb.measured_frequency =
            static_cast<std::int64_t>(mean / (tb.calibration.frequency_gate_ms / 1000.0));
        tb.ticks_per_second = tb.measured_frequency > 0 ? tb.measured_frequency : 1;
    }
    tb.calibration.frequency_calibrated = true;
    return 0;
}

void Stopwatch::clear() {
    seq_.fetch_add(1, std::memory_order_acq_rel);
    timer.running.store(false, std::memory_order_relaxed);
    timer.start_ticks.store(0, std::memory_order_relaxed);
    timer.total_ticks.store(0, std::memory_order_relaxed);
    timer.time_base = &system_ticks;
    seq_.fetch_add(1, std::memory_order_acq_rel);
}

void Stopwatch::start() {
    if (timer.running.load(std::memory_order_relaxed)) return;
    seq_.fetch_add(1, std::memory_order_acq_rel);
    timer.time_base = &system_ticks;
    timer.start_ticks.store(read_ticks(system_ticks) - system_ticks.ticks_overhead,
                                 std::memory_order_relaxed);
    timer.running.store(true, std::memory_order_relaxed);
    seq_.fetch_add(1, std::memory_order_acq_rel);
}

void Stopwatch::stop() {
    if (!timer.running.load(std::memory_order_relaxed)) return;
    seq_.fetch_add(1, std::memory_order_acq_rel);
    const TimeBase& tb = *timer.time_base;
    std::int64_t now = read_ticks(tb) - tb.ticks_overhead;
    timer.total_ticks.store(timer.total_ticks.load(std::memory_order_relaxed) + now -
                                      timer.start_ticks.load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
    timer.running.store(false, std::memory_order_relaxed);
    seq_.fetch_add(1, std::memory_order_acq_rel);
}

std::int64_t Stopwatch::elapsed_ticks() const {
    for (;;) {
        std::uint32_t s1 = seq_.load(std::memory_order_acquire);
        if (s1 & 1u) continue;  // a start or stop is under way
        bool running = timer.running.load(std::memory_order_relaxed);
        std::int64_t start = timer.start_ticks.load(std::memory_order_relaxed);
        std::int64_t total = timer.total_ticks.load(std::memory_order_relaxed);
        const TimeBase& tb = system_ticks;
        std::int64_t ticks = running ? read_ticks(tb) - tb.ticks_overhead - start + total : total;
        if (seq_.load(std::memory_order_acquire) == s1) return ticks;
    }
}

// Exact integer arithmetic: elapsed seconds times the unit, truncated toward
// zero, without the rounding a double would bring after weeks of running.
static std::int64_t scale(std::int64_t ticks, std::int64_t freq, std::int64_t unit) {
    return (ticks / freq) * unit + (ticks % freq) * unit / freq;
}

std::int64_t Stopwatch::elapsed_us() const {
    std::int64_t us = scale(elapsed_ticks(), system_ticks.ticks_per_second, 1000000);
    return want_days ? us : us % 86400000000LL;
}

std::int64_t Stopwatch::elapsed_ms() const {
    std::int64_t ms = scale(elapsed_ticks(), system_ticks.ticks_per_second, 1000);
    return want_days ? ms : ms % 86400000LL;
}

std::int64_t Stopwatch::micros_at(std::int64_t counter) const {
    for (;;) {
        std::uint32_t s1 = seq_.load(std::memory_order_acquire);
        if (s1 & 1u) continue;
        std::int64_t start = timer.start_ticks.load(std::memory_order_relaxed);
        std::int64_t total = timer.total_ticks.load(std::memory_order_relaxed);
        if (seq_.load(std::memory_order_acquire) != s1) continue;
        std::int64_t us = scale(counter - system_ticks.ticks_overhead - start + total, system_ticks.ticks_per_second, 1000000);
        return want_days ? us : us % 86400000000LL;
    }
}

std::int64_t Stopwatch::counter_at(std::int64_t us) const {
    const std::int64_t f = system_ticks.ticks_per_second;
    // The first tick count that reads as us or more, without overflowing
    // us * f after days of running.
    const std::int64_t ticks = (us / 1000000) * f + ((us % 1000000) * f + 999999) / 1000000;
    for (;;) {
        std::uint32_t s1 = seq_.load(std::memory_order_acquire);
        if (s1 & 1u) continue;
        std::int64_t start = timer.start_ticks.load(std::memory_order_relaxed);
        std::int64_t total = timer.total_ticks.load(std::memory_order_relaxed);
        if (seq_.load(std::memory_order_acquire) == s1) return ticks + system_ticks.ticks_overhead + start - total;
    }
}

}  // namespace qn
