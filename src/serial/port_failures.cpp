#include "serial/port_failures.h"

#include "core/text.h"

namespace qn {

static constexpr std::int64_t kPortLostAfterUs = 1000000;
static constexpr std::int64_t kFailureLogEveryUs = 1000000;

void PortFailures::failed(const std::string& what, const std::string& error) {
    const std::int64_t now = clock_.now_us();
    if (failure_logged_us_ < 0 || now - failure_logged_us_ >= kFailureLogEveryUs) {
        log_.write_line(what);
        log_.write_line("  " + error +
                        (failures_unlogged_ > 0 ? " (" + str(failures_unlogged_) + " failures not logged)" : ""));
        log_.flush();
        failure_logged_us_ = now;
        failures_unlogged_ = 0;
    } else {
        ++failures_unlogged_;
    }
    clock_.nap_ms(1);
}

bool PortFailures::given_up(std::int32_t location) {
    const std::int64_t now = clock_.now_us();
    if (failing_since_us_ < 0) failing_since_us_ = now;
    if (now - failing_since_us_ <= kPortLostAfterUs) return false;
    log_.write_line("Serial port not responding locn " + str(location));
    log_.flush();
    lost_at_ = location;
    wake_.signal();  // the loop stops the program now, not at its next pass
    return true;
}

}  // namespace qn
