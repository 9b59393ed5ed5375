#include "serial/serial_clock.h"

namespace qn {

void SerialClock::sleep_until_us(std::int64_t due_us) {
    if (!stopwatch_.timer.running.load(std::memory_order_relaxed)) {
        const std::int64_t now = now_us();
        if (due_us > now) threads_.sleep_ms(static_cast<std::int32_t>((due_us - now + 999) / 1000));
        return;
    }
    wait_.sleep_until(stopwatch_.counter_at(due_us));
}

}  // namespace qn
