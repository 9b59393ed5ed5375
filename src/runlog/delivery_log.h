// Key delivery in the run log: the monitor output's key lines, the focus
// lost and regained, missing targets and keys the OS refused.
#pragma once

#include <string>

#include "core/delivery_records.h"

namespace qn {

class RunLog;
namespace platform {
struct Platform;
struct DesktopInfo;
}

// The desktop's choice and notices into the run log, at start-up.
void log_desktop(RunLog& log, const platform::DesktopInfo& desktop);

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
    void program_window_not_found(const ProgramWindowNotFound& r) override;
    void target_notice(const TargetNotice& r) override;
    void several_instances(const SeveralInstances& r) override;
    void window_search_trace(const WindowSearchTrace& r) override;
    void window_search_failed(const WindowSearchFailed& r) override;
    void target_chosen(const TargetChosen& r) override;
    void target_window_matched(const TargetWindowMatched& r) override;
    void target_window_sought(const TargetWindowSought& r) override;
    void switch_bounce_chosen(const SwitchBounceChosen& r) override;
    void tower_rung(const TowerRung& r) override;
    void key_rings_no_bell(const KeyRingsNoBell& r) override;

private:
    std::string stamp() const;

    RunLog& log_;
    const platform::Platform& plat_;
    // The window last named in front of the target, until the focus comes
    // back: the waiting key looks again on every pass of the loop.
    std::string front_seen_;
};

}  // namespace qn
