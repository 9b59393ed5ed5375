#include "core/timing.h"

#include "core/context.h"
#include "core/text.h"

namespace qn {

void STARTTHETIMER(Context& c) {
    if (!c.timing.owner) c.timing.owner = std::make_unique<TEpikTimer>(*c.plat.clock, *c.plat.threads);
    c.timing.ET = c.timing.owner.get();
    c.timing.ET->FWANTMS = true;
    c.timing.ET->CLEAR();
    c.timing.ET->START();
    c.timing.TIMERISON = true;
}

void STOPTHETIMER(Context& c) {
    if (!c.timing.TIMERISON) return;
    c.timing.ET->STOP();
    c.timing.ET->CLEAR();
    c.timing.TIMERISON = false;
}

std::int64_t elapsed_us(const TimingState& t) { return t.ET ? t.ET->ELAPSEDDHMSASMICROSECS() : 0; }

std::int64_t elapsed_ms(const TimingState& t) { return t.ET ? t.ET->ELAPSEDDHMSASMILLISECS() : 0; }

std::int64_t MYELAPSEDMICROSECS(const Context& c) { return elapsed_us(c.timing); }

std::int64_t SERIALMYELAPSEDMICROSECS(const Context& c) {
    const TEpikTimer* t = c.timing.SERIALET ? c.timing.SERIALET : c.timing.ET;
    return t ? t->ELAPSEDDHMSASMICROSECS() : 0;
}

std::int64_t MYELAPSEDMILLISECS(const Context& c) { return elapsed_ms(c.timing); }

void SERIALSTARTTHETIMER(Context& c) {
    c.timing.ET->STOP();
    c.timing.SERIALET = c.timing.ET;
    c.timing.ET->START();
    c.timing.SERIALTIMERISON = true;
}

std::int64_t MULTINT64(std::int32_t a, std::int32_t b) {
    return static_cast<std::int64_t>(a) * static_cast<std::int64_t>(b);
}

// Where no precise wait can be had (the stopwatch stopped on the way out,
// or the wait service failed): whole milliseconds of sleep until due_us.
static void sleep_whole_ms_until(Context& c, std::int64_t due_us, std::int64_t now_us) {
    if (due_us > now_us) c.plat.threads->sleep_ms(static_cast<std::int32_t>((due_us - now_us + 999) / 1000));
}

platform::Result<platform::Wake> wait_until_micros(Context& c, std::int64_t due_us, std::uint32_t sources,
                                                   bool precise) {
    const TEpikTimer* t = c.timing.ET;
    // A stopwatch that is not running (on the way out) has no deadlines:
    // whole milliseconds are slept then.
    if (!t || !t->BUILTINTIMER.RUNNING.load(std::memory_order_relaxed)) {
        sleep_whole_ms_until(c, due_us, MYELAPSEDMICROSECS(c));
        return platform::Wake{0, MYELAPSEDMICROSECS(c)};
    }
    auto w = c.plat.wait->wait_until(t->counter_at(due_us), sources, precise);
    if (!w.ok()) return w;
    return platform::Wake{w.value().sources, t->micros_at(w.value().at)};
}

void wait_for(Context& c, std::int32_t ms, std::uint32_t sources) {
    auto r = wait_until_micros(c, MYELAPSEDMICROSECS(c) + MULTINT64(ms, 1000), sources, false);
    if (!r.ok()) c.plat.threads->sleep_ms(ms);
}

void wait_until_due(Context& c, std::int64_t due_us) {
    if (!wait_until_micros(c, due_us, 0, true).ok()) sleep_whole_ms_until(c, due_us, MYELAPSEDMICROSECS(c));
}

void sleep_until_micros(Context& c, std::int64_t due_us) {
    const TEpikTimer* t = c.timing.SERIALET ? c.timing.SERIALET : c.timing.ET;
    if (!t || !t->BUILTINTIMER.RUNNING.load(std::memory_order_relaxed)) {
        sleep_whole_ms_until(c, due_us, SERIALMYELAPSEDMICROSECS(c));
        return;
    }
    c.plat.wait->sleep_until(t->counter_at(due_us));
}

void log_timer_calibration(Context& c) {
    const TEpikTimer& t = *c.timing.ET;
    c.FOOERROR.writeln("Timer: counter frequency=" + str(c.plat.clock->frequency()) +
                       " used=" + str(t.FSYSTEMTICKS.TICKSFREQUENCY) +
                       " timed-sleep measurement=" + str(t.FSYSTEMTICKS.MEASUREDFREQUENCY) +
                       " ticksoverhead=" + str(t.FSYSTEMTICKS.TICKSOVERHEAD) +
                       " sleepoverhead=" + str(t.FSYSTEMTICKS.SLEEPOVERHEAD) +
                       " microsecondclock=" + bool_text(t.FMICROSECONDSYSTEMCLOCKAVAILABLE));
}

}  // namespace qn
