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

std::int64_t MYELAPSEDMICROSECS(const Context& c) {
    return c.timing.ET ? c.timing.ET->ELAPSEDDHMSASMICROSECS() : 0;
}

std::int64_t SERIALMYELAPSEDMICROSECS(const Context& c) {
    const TEpikTimer* t = c.timing.SERIALET ? c.timing.SERIALET : c.timing.ET;
    return t ? t->ELAPSEDDHMSASMICROSECS() : 0;
}

std::int64_t MYELAPSEDMILLISECS(const Context& c) {
    return c.timing.ET ? c.timing.ET->ELAPSEDDHMSASMILLISECS() : 0;
}

void SERIALSTARTTHETIMER(Context& c) {
    c.timing.ET->STOP();
    c.timing.SERIALET = c.timing.ET;
    c.timing.ET->START();
    c.timing.SERIALTIMERISON = true;
}

std::int64_t MULTINT64(std::int32_t a, std::int32_t b) {
    return static_cast<std::int64_t>(a) * static_cast<std::int64_t>(b);
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
