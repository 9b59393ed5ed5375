// What key delivery decides, as records, and the report it tells them to:
// a key sent to the target (typed, sent to its window or rung on the tower
// link), the doubled key of a missed strike, the target's focus lost and
// regained, its window or program missing, a key the OS refused. The screen
// and the run log observe and word them. Sensing points are numbered from 0
// here; the texts number them from 1.
#pragma once

#include <cstdint>
#include <span>
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

// The target program's window was not found for a key. name: as the
// screen shows it; logged: the run log's line (empty: none).
struct ProgramWindowNotFound {
    std::string_view name;
    std::string_view logged;
};

// What the ringer must know of the target, on the scratch line and in the
// run log: a version that cannot take every key, a key it cannot take.
struct TargetNotice {
    std::string_view text;
};

// More than one process of the target program runs: their ids.
struct SeveralInstances {
    std::span<const std::uint32_t> pids;
};

// A step of the window search, told when the monitor output is on.
struct WindowSearchTrace {
    std::string_view line;
};

// An OS call of the window search failed: its error.
struct WindowSearchFailed {
    std::string_view error;
};

// The search for the target's window at start-up: a window whose title
// matches, and the search's outcome (title: the window found).
struct TargetWindowMatched {
    std::uintptr_t window = 0;
    std::string_view title;
};
struct TargetWindowSought {
    std::string_view program;
    bool found = false;
    std::string_view title;
};

// The switch-bounce window was asked about at the configuration menu.
struct SwitchBounceChosen {
    std::int32_t bounce_ms = 0;
    bool changed = false;
};

// The configuration menu was left: the service screen's header is stale.
struct ConfigurationClosed {};

// A sensing point's key rung on the tower link, told when the monitor
// output is on: its bell (0: none), the tower's stroke, and whether it went.
struct TowerRung {
    std::int32_t bell = 0;
    bool handstroke = false;
    bool sent = false;
};

// A key that rings no bell on the tower (told once a run).
struct KeyRingsNoBell {
    char key = '\0';
};

// The ringer chose a target program at the target menu...
struct TargetChosen {
    std::string_view program;
};
// ...and its parameters and tower link are taken.
struct TargetTaken {};

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
    virtual void program_window_not_found(const ProgramWindowNotFound&) {}
    virtual void target_notice(const TargetNotice&) {}
    virtual void several_instances(const SeveralInstances&) {}
    virtual void window_search_trace(const WindowSearchTrace&) {}
    virtual void window_search_failed(const WindowSearchFailed&) {}
    virtual void target_chosen(const TargetChosen&) {}
    virtual void target_taken(const TargetTaken&) {}
    virtual void target_window_matched(const TargetWindowMatched&) {}
    virtual void target_window_sought(const TargetWindowSought&) {}
    virtual void switch_bounce_chosen(const SwitchBounceChosen&) {}
    virtual void configuration_closed(const ConfigurationClosed&) {}
    virtual void tower_rung(const TowerRung&) {}
    virtual void key_rings_no_bell(const KeyRingsNoBell&) {}
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
    void program_window_not_found(const ProgramWindowNotFound& r) override {
        each(&DeliveryReport::program_window_not_found, r);
    }
    void target_notice(const TargetNotice& r) override { each(&DeliveryReport::target_notice, r); }
    void several_instances(const SeveralInstances& r) override { each(&DeliveryReport::several_instances, r); }
    void window_search_trace(const WindowSearchTrace& r) override { each(&DeliveryReport::window_search_trace, r); }
    void window_search_failed(const WindowSearchFailed& r) override {
        each(&DeliveryReport::window_search_failed, r);
    }
    void target_chosen(const TargetChosen& r) override { each(&DeliveryReport::target_chosen, r); }
    void target_taken(const TargetTaken& r) override { each(&DeliveryReport::target_taken, r); }
    void target_window_matched(const TargetWindowMatched& r) override {
        each(&DeliveryReport::target_window_matched, r);
    }
    void target_window_sought(const TargetWindowSought& r) override {
        each(&DeliveryReport::target_window_sought, r);
    }
    void switch_bounce_chosen(const SwitchBounceChosen& r) override { each(&DeliveryReport::switch_bounce_chosen, r); }
    void configuration_closed(const ConfigurationClosed& r) override {
        each(&DeliveryReport::configuration_closed, r);
    }
    void tower_rung(const TowerRung& r) override { each(&DeliveryReport::tower_rung, r); }
    void key_rings_no_bell(const KeyRingsNoBell& r) override { each(&DeliveryReport::key_rings_no_bell, r); }
};

}  // namespace qn
