// What key delivery has to say on the service screen: the focus lost and
// regained (the lines under the big counter), a target window or program
// that is missing (the first scratch line), and the screen shown before the
// wait for a doubled key.
#pragma once

#include "core/delivery_records.h"

namespace qn {

class Screen;
struct ConsoleState;

class DeliveryNotices : public DeliveryReport {
public:
    DeliveryNotices(Screen& screen, ConsoleState& console) : screen_(screen), console_(console) {}

    void doubled_key_due(const DoubledKeyDue& r) override;
    void focus_lost(const FocusLost& r) override;
    void focus_regained(const FocusRegained& r) override;
    void target_window_missing(const TargetWindowMissing& r) override;
    void program_not_running(const ProgramNotRunning& r) override;

private:
    void scratch_line(std::string_view text);
    void clear_low_scratch();

    Screen& screen_;
    ConsoleState& console_;
};

}  // namespace qn
