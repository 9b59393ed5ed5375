// What key delivery has to say on the service screen: the focus lost and
// regained (the lines under the big counter), a target window or program
// that is missing (the first scratch line), and the screen shown before the
// wait for a doubled key.
#pragma once

#include "core/delivery_records.h"

namespace qn {

class Screen;
class ServiceScreen;
namespace platform {
struct DesktopInfo;
}

// The desktop's notices (what cannot be done here, and the set-up that
// would do it) at the cursor, where the service screen has the calibration
// otherwise; false when there are none.
bool show_desktop_notices(Screen& screen, const platform::DesktopInfo& desktop);

class DeliveryNotices : public DeliveryReport {
public:
    DeliveryNotices(Screen& screen, ServiceScreen& service_screen) : screen_(screen), service_screen_(service_screen) {}

    void doubled_key_due(const DoubledKeyDue& r) override;
    void focus_lost(const FocusLost& r) override;
    void focus_regained(const FocusRegained& r) override;
    void target_window_missing(const TargetWindowMissing& r) override;
    void program_not_running(const ProgramNotRunning& r) override;
    void program_window_not_found(const ProgramWindowNotFound& r) override;
    void target_notice(const TargetNotice& r) override;
    void several_instances(const SeveralInstances& r) override;
    void configuration_closed(const ConfigurationClosed& r) override;

private:
    void scratch_line(std::string_view text);
    void clear_low_scratch();

    Screen& screen_;
    ServiceScreen& service_screen_;
};

}  // namespace qn
