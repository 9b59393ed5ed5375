// The in-service screen: menu, calibration summary, monitor figures and the
// big row counter.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

class BigCounter;
class Dialog;
class MonitorRegion;
class RowCounter;
class RunClock;
class RunLog;
class Screen;
class TextSink;
struct Settings;
namespace platform {
struct Platform;
}

// What the service screen shows of the rest of the program, read at each
// drawing.
class ServiceFacts {
public:
    virtual ~ServiceFacts() = default;
    // Nothing is drawn while the target has lost the focus.
    virtual bool target_has_focus() const = 0;
    // The target takes keys only while its window is in front.
    virtual bool target_must_be_foreground() const = 0;
    virtual bool rings_tower() const = 0;
    virtual void write_calibration(TextSink& out) const = 0;
};

class ServiceScreen {
public:
    ServiceScreen(Screen& screen, Dialog& dialog, const Settings& cfg, RunClock& clock, platform::Platform& plat,
                  const RunLog& log, RowCounter& rows, MonitorRegion& monitor, BigCounter& counter,
                  const ServiceFacts& facts);

    // Drawn whole, from nothing, as the service starts.
    void show();
    // After a key: the counter's figures brought up to now and drawn (a
    // touch of at most one row gets its monitor window drawn afresh).
    void update();
    void write_menu();
    // The big counter's window cleared and the count drawn whole.
    void repaint_big_counter();

    // Something drew over the header (a command key, the focus coming
    // back): the next update draws the counter or the menu again.
    void mark_stale() { stale_ = true; }
    bool stale() const { return stale_; }

private:
    void draw_whole();
    void draw_monitor_window();
    void repaint_if_asked();
    void draw_running_figures();

    Screen& screen_;
    Dialog& dialog_;
    const Settings& cfg_;
    RunClock& clock_;
    platform::Platform& plat_;
    const RunLog& log_;
    RowCounter& rows_;
    MonitorRegion& monitor_;
    BigCounter& counter_;
    const ServiceFacts& facts_;
    bool stale_ = false;
};

void write_startup_text(Screen& screen);
std::string elapsed_text(std::int64_t millisecs);

}  // namespace qn
