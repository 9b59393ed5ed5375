// The whole program state: one plain struct per subsystem, all reached from
// one Context, so a test can build a fresh program on fake platform services.
// Arrays keep their numbering (Arr's bounds).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "autoring/touch.h"
#include "config/folders.h"
#include "console/console.h"
#include "console/layout.h"
#include "console/screen.h"
#include "core/arr.h"
#include "core/delivery_records.h"
#include "core/dialog.h"
#include "core/modem_line.h"
#include "core/sensing_records.h"
#include "core/stopwatch.h"
#include "core/strike_records.h"
#include "platform/platform.h"
#include "runlog/run_log.h"
#include "serial/event_ring.h"
#include "serial/ports.h"

namespace qn {

namespace link {
class TowerLink;
}
class StrikePath;
class AutoRinger;
class SettingsFile;
class MonitorRegion;
class BigCounter;
class StrikeNotices;
class StrikeLog;
class RunEnd;
class MainThreadWaiting;
class SerialThread;
class DataPortReader;
class PortLostNotice;
class SensingLog;
class DeliveryNotices;
class DeliveryLog;
class StrikingRecorder;
class StrikingSummary;
class StrikingFiles;

using platform::PortHandle;
using platform::WindowHandle;

// ---- constants ------------------------------------------------------------

inline constexpr const char* kProgramVersion = "Quennick_v0.8.2d3_(04_Jan_2021)_";
inline constexpr int kMaxSensors = 16;
inline constexpr int kMaxCalibrationEvents = 256;
inline constexpr int kMaxTargetPrograms = 9;
inline constexpr int kDefaultLoopSleepMs = 5;
inline constexpr int kDefaultSwitchBounceMs = 40;
inline constexpr int kDefaultTransientMs = 2;
inline constexpr int kDefaultSingleSensorDelayMs = 380;
inline constexpr int kDefaultDoubleSensorDelayMs = 80;
inline constexpr int kDefaultDoubleStrikeDelayMs = 350;
inline constexpr bool kDefaultUseDoubledSend = true;
inline constexpr const char* kInitialTargetProgram = "Ringing Room";
inline constexpr std::int64_t kNoEventTime = -1;
inline constexpr int kMaxProcesses = 100;
inline constexpr const char* kDefaultTowerSite = "https://ringingroom.com";

// ---- program core ----------------------------------------------------------

struct CoreState {
    bool easy_mode = true;
    bool have_serial_port = false;
    bool stopwatch_started = false;
    bool terminate = false;
    Folders folders;  // where the settings, logs and touch files are
    bool wait_failure_logged = false;  // the service loop's wait failed and said so
};

// The stopwatch lives as long as the process: the serial thread may read it
// up to the moment the process ends.
struct TimingState {
    std::unique_ptr<Stopwatch> owner;  // never freed before the process ends
    Stopwatch* stopwatch = nullptr;
    std::atomic<bool> stopwatch_running{false};
    Stopwatch* serial_stopwatch = nullptr;
    std::atomic<bool> serial_stopwatch_running{false};
};

// ---- settings (the settings file's values) ---------------------------------

struct CalibrationResult {
    double signal_ms = 0;
    double signal_gap_ms = 0;
    double sensor_gap_ms = 0;
};

struct Settings {
    std::string port_name;
    bool signals_mode = false;
    bool rest_on_mode = false;
    PerModemLine<bool> use_line;  // the lines the sensor is on
    char data_char = '\0';
    std::int32_t signal_count = 0;
    Arr<CalibrationResult, 1, kMaxCalibrationEvents> results;
    std::int32_t loop_sleep_ms = kDefaultLoopSleepMs;
    bool big_numbers = false;
    bool monitor_output = false;
    std::int32_t switch_bounce_ms = kDefaultSwitchBounceMs;
    std::atomic<std::int32_t> transient_ms{0};  // read by the serial thread
    bool signal_starts_off = true;
    std::int32_t sensor_count = 0;
    std::int32_t mean_signal_ms = 0;
    bool handbells = false;
    bool off_and_on_are_signals = false;
    double space_ratio_low = 0.6;
    double space_ratio_high = 1.7;
    std::string target_program = kInitialTargetProgram;
    bool bespoke = false;

    // The tower link of the Ringing Room targets: rings go straight to the
    // tower's server. tower_id 0: keys go to the browser as before.
    std::int32_t tower_id = 0;
    std::int32_t tower_bell_j = 1;  // the ringer's bells for the keys "j" and "f" (0: none)
    std::int32_t tower_bell_f = 0;
    std::string tower_site = kDefaultTowerSite;
    std::string tower_email;       // a Ringing Room account to log in with; empty: anonymous
};

// ---- key output ------------------------------------------------------------

struct SensingPoint {
    std::int32_t sensor = 0;
    char hand_key = '\0';
    std::int32_t hand_delay_ms = 0;
    char back_key = '\0';
    std::int32_t back_delay_ms = 0;
};

struct TargetProgram {
    std::string name;
    std::string window_name;
    std::int32_t sensors_active = 0;
    bool find_window = false;
    bool restricted = false;
    Arr<SensingPoint, 1, kMaxSensors> points;
    bool use_doubled_send = false;
    std::int32_t double_strike_delay_ms = 0;
};

// The target programs' settings as the settings file holds them; delivery
// takes the selected one's.
using TargetTable = Arr<TargetProgram, 0, kMaxTargetPrograms>;

struct KeyoutState {
    TargetTable targets;
    std::int32_t target_index = 0;
    std::int32_t sensors_active = 0;
    bool restricted = false;
    bool find_window = false;
    bool use_doubled_send = false;
    std::int32_t double_strike_delay_ms = 0;
    Arr<SensingPoint, 1, kMaxSensors> points;

    // Window discovery.
    std::string search_text;
    bool window_found = false;
    std::string window_title;
    std::string title;
    WindowHandle target_window = 0;
    Arr<platform::ProcessEntry, 1, kMaxProcesses> processes;
    std::int32_t process_count = 0;
    std::string child_window, grandchild_window;
    WindowHandle found_window = 0;

    // Key dispatch.
    bool window_focus = true;
    std::string focus_title;
    std::int64_t last_key_us = 0;
    bool send_input_failure_logged = false;

    // Configuration menus.
    bool diagnostics = false;
};

// ---- console ---------------------------------------------------------------

struct ConsoleState {
    Arr<Arr<std::string, 1, 20>, 0, 9> glyphs;  // digit glyphs
    Arr<std::string, 0, 9> digit_rows;
    bool big_number_stale = false;
};

// ---- automatic ringing -----------------------------------------------------

// The touch read from a file, and the ringer that rings it (made by
// make_context, service/program.h).
struct AutoringState {
    Touch touch;
    std::unique_ptr<AutoRinger> ringer;
};

// ---- tower link ------------------------------------------------------------

struct LinkState {
    std::unique_ptr<link::TowerLink> session;  // null while no link runs
    bool service_started = false;  // from now on a changed target restarts the link
    std::string password;          // typed at the target menu, for the next start only
    long rings_without_session = 0;  // due while no link ran (a failed start)
    bool no_bell_logged = false;
    std::string shown;             // the status line as last drawn
    // quennick-sim's figures: every ring of a sensing point's key, sent or not.
    std::function<void(char key, int bell, bool handstroke, bool sent)> on_ring;
    // Run on the link's thread when its state changes (a wake for the main loop).
    std::function<void()> on_change;
};

// ---- the program -----------------------------------------------------------

struct Context {
    explicit Context(platform::Platform& p);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    platform::Platform& plat;
    Screen screen;      // the console model
    RunLog run_log;    // the run log
    std::unique_ptr<RunEnd> ending;          // every way the run ends
    std::unique_ptr<MainThreadWaiting> waiting;
    Console console;   // the ringer's side: the screen's areas and the keyboard
    Dialog& dialog;    // the console, as the domain asks its questions

    CoreState core;
    TimingState timing;
    Settings cfg;
    // Sensing: the ports, the event ring, and the serial thread once it runs
    // (it is never stopped: it ends with the process).
    SensorPorts ports;
    EventRing event_ring;
    std::unique_ptr<SerialThread> serial_thread;
    std::unique_ptr<DataPortReader> data_reader;  // data mode's reads, made at their first
    SensingReportFanOut sensing_report;
    std::unique_ptr<PortLostNotice> port_lost_notice;
    std::unique_ptr<SensingLog> sensing_log;
    std::unique_ptr<SettingsFile> settings_file;
    KeyoutState keyout;
    ConsoleState con;
    AutoringState autoring;
    LinkState link;

    // The strike path and its observers, made and wired by make_context
    // (service/program.h).
    StrikeReportFanOut strike_report;
    std::unique_ptr<StrikePath> strikes;
    std::unique_ptr<MonitorRegion> monitor;
    std::unique_ptr<BigCounter> big_counter;
    std::unique_ptr<StrikeNotices> strike_notices;
    std::unique_ptr<StrikeLog> strike_log;

    // Key delivery's report and its observers, wired by make_context.
    DeliveryReportFanOut delivery_report;
    std::unique_ptr<DeliveryNotices> delivery_notices;
    std::unique_ptr<DeliveryLog> delivery_log;
    std::unique_ptr<DeliveryReport> screen_updates;  // the service screen after each key
    // The striking report: the recorder hears the strike path and tells its
    // own observers what it makes of each touch.
    std::unique_ptr<StrikingRecorder> striking;
    std::unique_ptr<StrikingFiles> striking_files;
    std::unique_ptr<StrikingSummary> striking_summary;
};

}  // namespace qn
