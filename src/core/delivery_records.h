// What key delivery decides, as records, and the report it tells them to:
// a key sent to the target (typed, sent to its window or rung on the tower
// link), the doubled key of a missed strike, the target's focus lost and
// regained, its window or program missing, a key the OS refused. The screen
// and the run log observe and word them. Sensing points are numbered from 0
// here; the texts number them from 1.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/fan_out.h"

namespace qn {

// A sensing point's key went, told when the monitor output is on.
struct KeySent {
    std::int32_t point = 0;
    char key = '\0';
    std::int64_t at_us = 0;
    std::int64_t since_last_us = 0;  // since the key before it
};

// The made-up second key of a missed strike is waited for: due_us.
struct DoubledKeyDue {
    std::int64_t due_us = 0;
};

// The made-up second key went, told when the monitor output is on.
struct DoubledKeySent {
    char key = '\0';
};

// A key went undoubled: the touch's output records so far (told where the
// target's route notes them, or when the monitor output is on).
struct OutputsNoted {
    std::int32_t outputs = 0;
};

// The target is not the focus window: the point's key is dropped. still:
// it was lost before (told then only when the monitor output is on).
struct FocusLost {
    std::string_view target_program;
    std::int32_t point = 0;
    bool still = false;
};

struct FocusRegained {};

// Another window has the focus while the target's is expected; adopted:
// its title names the target, and it is taken as the target's window.
struct FocusWindowSeen {
    std::uintptr_t window = 0;
    std::string_view title;
    std::uintptr_t expected_window = 0;
    std::string_view expected_title;
    bool adopted = false;
};

// The target's window is not open. paused: the run waits for a key and the
// key stays pending; else the key counts as sent (as where no window takes
// it). name: the target program, or the short name of its kind when not paused.
struct TargetWindowMissing {
    std::string_view name;
    bool paused = false;
};

// The target program is not running: the run waits for a key and the key
// stays pending. shown: its name on the screen; logged: in the run log.
struct ProgramNotRunning {
    std::string_view shown;
    std::string_view logged;
};

// The OS took fewer key events than were sent (told once a run):
// inserted of sent, or the call's error when it failed.
struct KeyRefused {
    bool failed = false;
    std::string_view error;
    std::int32_t inserted = 0;
    std::int32_t sent = 0;
};

// A due key has been dealt with (sent, dropped or left pending).
struct DueKeyHandled {
    std::int32_t point = 0;
};

// Told what key delivery decides. Every call has an empty default, so an
// observer implements only what it shows.
class DeliveryReport {
public:
    virtual ~DeliveryReport() = default;
    virtual void key_sent(const KeySent&) {}
    virtual void doubled_key_due(const DoubledKeyDue&) {}
    virtual void doubled_key_sent(const DoubledKeySent&) {}
    virtual void outputs_noted(const OutputsNoted&) {}
    virtual void focus_lost(const FocusLost&) {}
    virtual void focus_regained(const FocusRegained&) {}
    virtual void focus_window_seen(const FocusWindowSeen&) {}
    virtual void target_window_missing(const TargetWindowMissing&) {}
    virtual void program_not_running(const ProgramNotRunning&) {}
    virtual void key_refused(const KeyRefused&) {}
    virtual void due_key_handled(const DueKeyHandled&) {}
};

class DeliveryReportFanOut : public FanOut<DeliveryReport> {
public:
    void key_sent(const KeySent& r) override { each(&DeliveryReport::key_sent, r); }
    void doubled_key_due(const DoubledKeyDue& r) override { each(&DeliveryReport::doubled_key_due, r); }
    void doubled_key_sent(const DoubledKeySent& r) override { each(&DeliveryReport::doubled_key_sent, r); }
    void outputs_noted(const OutputsNoted& r) override { each(&DeliveryReport::outputs_noted, r); }
    void focus_lost(const FocusLost& r) override { each(&DeliveryReport::focus_lost, r); }
    void focus_regained(const FocusRegained& r) override { each(&DeliveryReport::focus_regained, r); }
    void focus_window_seen(const FocusWindowSeen& r) override { each(&DeliveryReport::focus_window_seen, r); }
    void target_window_missing(const TargetWindowMissing& r) override {
        each(&DeliveryReport::target_window_missing, r);
    }
    void program_not_running(const ProgramNotRunning& r) override { each(&DeliveryReport::program_not_running, r); }
    void key_refused(const KeyRefused& r) override { each(&DeliveryReport::key_refused, r); }
    void due_key_handled(const DueKeyHandled& r) override { each(&DeliveryReport::due_key_handled, r); }
};

}  // namespace qn
