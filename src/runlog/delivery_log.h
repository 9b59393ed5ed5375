// Key delivery in the run log: the monitor output's key lines, the focus
// lost and regained, missing targets and keys the OS refused.
#pragma once

#include <string>

#include "core/delivery_records.h"

namespace qn {

class RunLog;
namespace platform {
struct Platform;
}

class DeliveryLog : public DeliveryReport {
public:
    // plat: its files give the local date and time some lines begin with.
    DeliveryLog(RunLog& log, const platform::Platform& plat) : log_(log), plat_(plat) {}

    void key_sent(const KeySent& r) override;
    void doubled_key_sent(const DoubledKeySent& r) override;
    void outputs_noted(const OutputsNoted& r) override;
    void focus_lost(const FocusLost& r) override;
    void focus_regained(const FocusRegained& r) override;
    void focus_window_seen(const FocusWindowSeen& r) override;
    void target_window_missing(const TargetWindowMissing& r) override;
    void program_not_running(const ProgramNotRunning& r) override;
    void key_refused(const KeyRefused& r) override;

private:
    std::string stamp() const;

    RunLog& log_;
    const platform::Platform& plat_;
};

}  // namespace qn
