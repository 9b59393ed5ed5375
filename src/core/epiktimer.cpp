#include "core/epiktimer.h"

namespace qn {

TEpikTimer::TEpikTimer(platform::Clock& clock, platform::Threads& threads)
    : clock_(clock), threads_(threads) {
    FSPRECISION = 6;
    FWANTMS = true;
    FWANTDAYS = true;

    FSYSTEMTICKS.CALIBRATION = {false, false, 5, 10, 1, 100};
    FSYSTEMTICKS.AVAILABLE = true;
    FHWTICKS.CALIBRATION = {false, false, 10, 20, 1, 150};
    FHWTICKS.TICKSFREQUENCY = 1;
    FHWTICKS.HARDWARE = true;
    if (clock_.tsc_available()) {
        // Prepared as the original design has it, never selected.
        FHWTICKS.AVAILABLE = CALIBRATECALLOVERHEADS(FHWTICKS) == 0;
    }

    OVERHEADRESULT = CALIBRATECALLOVERHEADS(FSYSTEMTICKS);
    CALIBRATETICKFREQUENCY(FSYSTEMTICKS);

    // The frequency the counter reports is the rate of every time in the
    // program. A timed sleep overshoots by up to a timer tick (15.6 ms on
    // Windows), which would make all times run several percent slow; the
    // measurement is kept for the log only.
    FSYSTEMTICKS.TICKSFREQUENCY = clock_.frequency();
    if (FSYSTEMTICKS.TICKSFREQUENCY > DEFAULTSYSTEMTICKSPERSECOND - SYSTEMTICKSNORMALRANGELIMIT &&
        FSYSTEMTICKS.TICKSFREQUENCY < DEFAULTSYSTEMTICKSPERSECOND + SYSTEMTICKSNORMALRANGELIMIT) {
        FSYSTEMTICKS.TICKSFREQUENCY = DEFAULTSYSTEMTICKSPERSECOND;
        FMICROSECONDSYSTEMCLOCKAVAILABLE = true;
    } else {
        FMICROSECONDSYSTEMCLOCKAVAILABLE = false;
    }
    if (FSYSTEMTICKS.TICKSFREQUENCY <= 0) FSYSTEMTICKS.TICKSFREQUENCY = 1;

    FSELECTEDTIMEBASE = TimeBaseSource::SYSTEMTIMEBASE;
    CLEAR();
}

std::int64_t TEpikTimer::TICKS(const TIMEBASEDATA& tb) const {
    return tb.HARDWARE ? clock_.tsc() : clock_.counter();
}

std::int32_t TEpikTimer::SYSTEMSLEEP(std::int32_t ms) {
    threads_.sleep_ms(ms);
    return 0;
}

std::int32_t TEpikTimer::CALIBRATECALLOVERHEADS(TIMEBASEDATA& tb) {
    std::int64_t sum = 0;
    for (int i = 0; i < tb.CALIBRATION.TICKSITERATIONS; ++i) {
        std::int64_t a = TICKS(tb);
        std::int64_t b = TICKS(tb);
        sum += b - a;
    }
    tb.TICKSOVERHEAD = tb.CALIBRATION.TICKSITERATIONS > 0 ? sum / tb.CALIBRATION.TICKSITERATIONS : 0;

    sum = 0;
    for (int i = 0; i < tb.CALIBRATION.SLEEPITERATIONS; ++i) {
        std::int64_t a = TICKS(tb);
        if (SYSTEMSLEEP(0) != 0) return 1;
        std::int64_t b = TICKS(tb);
        sum += (b - a) - tb.TICKSOVERHEAD;
    }
    tb.SLEEPOVERHEAD = tb.CALIBRATION.SLEEPITERATIONS > 0 ? sum / tb.CALIBRATION.SLEEPITERATIONS : 0;
    tb.CALIBRATION.OVERHEADCALIBRATED = true;
    return 0;
}

std::int32_t TEpikTimer::CALIBRATETICKFREQUENCY(TIMEBASEDATA& tb) {
    std::int64_t sum = 0;
    int n = tb.CALIBRATION.FREQITERATIONS;
    for (int i = 0; i < n; ++i) {
        std::int64_t a = TICKS(tb);
        SYSTEMSLEEP(tb.CALIBRATION.FREQUENCYGATETIMEMS);
        std::int64_t b = TICKS(tb);
        sum += (b - a) - (tb.SLEEPOVERHEAD + tb.TICKSOVERHEAD);
    }
    if (n > 0 && tb.CALIBRATION.FREQUENCYGATETIMEMS > 0) {
        double mean = static_cast<double>(sum) / n;
        tb.MEASUREDFREQUENCY =
            static_cast<std::int64_t>(mean / (tb.CALIBRATION.FREQUENCYGATETIMEMS / 1000.0));
        tb.TICKSFREQUENCY = tb.MEASUREDFREQUENCY > 0 ? tb.MEASUREDFREQUENCY : 1;
    }
    tb.CALIBRATION.FREQCALIBRATED = true;
    return 0;
}

void TEpikTimer::CLEAR() {
    seq_.fetch_add(1, std::memory_order_acq_rel);
    BUILTINTIMER.RUNNING.store(false, std::memory_order_relaxed);
    BUILTINTIMER.STARTTIME.store(0, std::memory_order_relaxed);
    BUILTINTIMER.TOTALTICKS.store(0, std::memory_order_relaxed);
    BUILTINTIMER.TIMEBASEUSED = &FSYSTEMTICKS;
    seq_.fetch_add(1, std::memory_order_acq_rel);
}

void TEpikTimer::START() {
    if (BUILTINTIMER.RUNNING.load(std::memory_order_relaxed)) return;
    seq_.fetch_add(1, std::memory_order_acq_rel);
    BUILTINTIMER.TIMEBASEUSED = &FSYSTEMTICKS;
    BUILTINTIMER.STARTTIME.store(TICKS(FSYSTEMTICKS) - FSYSTEMTICKS.TICKSOVERHEAD,
                                 std::memory_order_relaxed);
    BUILTINTIMER.RUNNING.store(true, std::memory_order_relaxed);
    seq_.fetch_add(1, std::memory_order_acq_rel);
}

void TEpikTimer::STOP() {
    if (!BUILTINTIMER.RUNNING.load(std::memory_order_relaxed)) return;
    seq_.fetch_add(1, std::memory_order_acq_rel);
    const TIMEBASEDATA& tb = *BUILTINTIMER.TIMEBASEUSED;
    std::int64_t now = TICKS(tb) - tb.TICKSOVERHEAD;
    BUILTINTIMER.TOTALTICKS.store(BUILTINTIMER.TOTALTICKS.load(std::memory_order_relaxed) + now -
                                      BUILTINTIMER.STARTTIME.load(std::memory_order_relaxed),
                                  std::memory_order_relaxed);
    BUILTINTIMER.RUNNING.store(false, std::memory_order_relaxed);
    seq_.fetch_add(1, std::memory_order_acq_rel);
}

std::int64_t TEpikTimer::elapsed_ticks() const {
    for (;;) {
        std::uint32_t s1 = seq_.load(std::memory_order_acquire);
        if (s1 & 1u) continue;  // a start or stop is under way
        bool running = BUILTINTIMER.RUNNING.load(std::memory_order_relaxed);
        std::int64_t start = BUILTINTIMER.STARTTIME.load(std::memory_order_relaxed);
        std::int64_t total = BUILTINTIMER.TOTALTICKS.load(std::memory_order_relaxed);
        const TIMEBASEDATA& tb = FSYSTEMTICKS;
        std::int64_t ticks = running ? TICKS(tb) - tb.TICKSOVERHEAD - start + total : total;
        if (seq_.load(std::memory_order_acquire) == s1) return ticks;
    }
}

// Exact integer arithmetic: elapsed seconds times the unit, truncated toward
// zero, without the rounding a double would bring after weeks of running.
static std::int64_t scale(std::int64_t ticks, std::int64_t freq, std::int64_t unit) {
    return (ticks / freq) * unit + (ticks % freq) * unit / freq;
}

std::int64_t TEpikTimer::ELAPSEDDHMSASMICROSECS() const {
    std::int64_t us = scale(elapsed_ticks(), FSYSTEMTICKS.TICKSFREQUENCY, 1000000);
    return FWANTDAYS ? us : us % 86400000000LL;
}

std::int64_t TEpikTimer::ELAPSEDDHMSASMILLISECS() const {
    std::int64_t ms = scale(elapsed_ticks(), FSYSTEMTICKS.TICKSFREQUENCY, 1000);
    return FWANTDAYS ? ms : ms % 86400000LL;
}

std::int64_t TEpikTimer::micros_at(std::int64_t counter) const {
    for (;;) {
        std::uint32_t s1 = seq_.load(std::memory_order_acquire);
        if (s1 & 1u) continue;
        std::int64_t start = BUILTINTIMER.STARTTIME.load(std::memory_order_relaxed);
        std::int64_t total = BUILTINTIMER.TOTALTICKS.load(std::memory_order_relaxed);
        if (seq_.load(std::memory_order_acquire) != s1) continue;
        std::int64_t us = scale(counter - FSYSTEMTICKS.TICKSOVERHEAD - start + total, FSYSTEMTICKS.TICKSFREQUENCY, 1000000);
        return FWANTDAYS ? us : us % 86400000000LL;
    }
}

std::int64_t TEpikTimer::counter_at(std::int64_t us) const {
    const std::int64_t f = FSYSTEMTICKS.TICKSFREQUENCY;
    // The first tick count that reads as us or more, without overflowing
    // us * f after days of running.
    const std::int64_t ticks = (us / 1000000) * f + ((us % 1000000) * f + 999999) / 1000000;
    for (;;) {
        std::uint32_t s1 = seq_.load(std::memory_order_acquire);
        if (s1 & 1u) continue;
        std::int64_t start = BUILTINTIMER.STARTTIME.load(std::memory_order_relaxed);
        std::int64_t total = BUILTINTIMER.TOTALTICKS.load(std::memory_order_relaxed);
        if (seq_.load(std::memory_order_acquire) == s1) return ticks + FSYSTEMTICKS.TICKSOVERHEAD + start - total;
    }
}

}  // namespace qn
