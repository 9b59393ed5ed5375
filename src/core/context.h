// The whole program state: one plain struct per subsystem, all reached from
// one Context, so a test can build a fresh program on fake platform services.
// Arrays keep their numbering (Arr's bounds).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "config/folders.h"
#include "console/screen.h"
#include "core/arr.h"
#include "core/stopwatch.h"
#include "core/strike_records.h"
#include "platform/platform.h"
#include "strokes/runlog.h"

namespace qn {

namespace link {
class TowerLink;
}
class StrikePath;
class MonitorRegion;
class BigCounter;
class StrikeNotices;
class StrikeLog;
class StrikingRecorder;
class StrikingSummary;
class StrikingFiles;

using platform::PortHandle;
using platform::WindowHandle;

// ---- constants ------------------------------------------------------------

inline constexpr const char* kProgramVersion = "Quennick_v0.8.2d3_(04_Jan_2021)_";
inline constexpr int kMaxSerialPorts = 25;
inline constexpr int kEventRingSize = 512;
inline constexpr int kMaxSensors = 16;
inline constexpr int kMaxCalibrationEvents = 256;
inline constexpr int kMaxRows = 6000;
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
inline constexpr int kScratchFirstLine = 9;
inline constexpr int kScratchLastLine = 20;
inline constexpr int kBigNumberLastLine = 18;
inline constexpr int kMaxPlaceNotations = 20;
inline constexpr int kMaxLeadHeads = 100;
inline constexpr int kRoundsAtStart = 6;
inline constexpr int kRoundsAtEnd = 4;
inline constexpr int kMaxAutoBells = 12;
inline constexpr int kDefaultAutoBells = 6;
inline constexpr int kDefaultPealMinutes = 180;
inline constexpr int kMaxProcesses = 100;
inline constexpr const char* kDefaultTowerSite = "https://ringingroom.com";

// ---- program core ----------------------------------------------------------

struct CoreState {
    bool easy_mode = true;
    std::string settings_base_name;
    bool have_settings_file = false;
    bool have_serial_port = false;
    bool stopwatch_started = false;
    bool terminate = false;
    bool autoring_set_up = false;
    Folders folders;  // where the settings, logs and touch files are
    // The last settings read: lines it named as unusable, and whether the
    // target program is still to be asked (no usable program line).
    std::int32_t settings_problems = 0;
    bool target_unknown = false;
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
    bool use_cts = false, use_dsr = false, use_cd = false, use_ri = false;
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

// ---- sensor input ----------------------------------------------------------

struct SerialState {
    // Port list and handles.
    Arr<std::string, 1, kMaxSerialPorts> port_names;
    std::int32_t port_count = 0;
    PortHandle port = 0;
    Arr<PortHandle, 1, kMaxSerialPorts> ports;

    // Event ring: slot 0 is the start status, slots 1..512 the ring.
    Arr<std::uint32_t, 0, kEventRingSize> event_status;
    Arr<std::int64_t, 0, kEventRingSize> event_time_us;
    Arr<std::uint8_t, 0, kEventRingSize> event_shape;
    std::atomic<std::int32_t> ring_head{0};
    std::int32_t last_ring_tail = 0;
    std::int32_t ring_tail = 0;
    std::int64_t lost_events = 0;  // events overwritten before the main thread took them

    // Omitted events, for the event log.
    Arr<std::uint32_t, 1, kEventRingSize> omitted_status;
    Arr<std::int64_t, 1, kEventRingSize> omitted_time_us;
    Arr<std::uint8_t, 1, kEventRingSize> omitted_shape;
    std::atomic<std::int32_t> omitted_count{0};

    // Thread control.
    PortHandle thread_port = 0;
    std::atomic<bool> thread_running{false};
    std::atomic<bool> thread_ended{false};
    platform::ThreadHandle thread = 0;
    std::uint32_t thread_id = 0;
    bool cts_live = false, dsr_live = false, cd_live = false, ri_live = false;

    // The serial thread's own state, kept here so the per-event step can be
    // driven by tests.
    std::uint32_t event_mask = 0;
    std::uint32_t watched_line = 0;
    std::uint32_t last_status = 0;
    std::uint32_t status = 0;
    // Failed waits and status reads, so a pulled adapter is noticed.
    std::int64_t failing_since_us = -1;     // first failure of the current run of them
    std::int64_t failure_logged_us = -1;    // last time the failure was logged
    std::int32_t failures_unlogged = 0;      // failures not logged since then
    std::atomic<std::int32_t> port_lost_at{0};  // set by the thread when the port is gone
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

struct KeyoutState {
    Arr<TargetProgram, 0, kMaxTargetPrograms> targets;
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
    bool firefox = false, chrome = false;

    // Key dispatch.
    bool window_focus = true;
    std::string focus_title;
    std::int64_t last_key_us = 0;
    bool send_input_failure_logged = false;

    // Configuration menus.
    bool diagnostics = false;
};

// ---- calibration -----------------------------------------------------------

using PortLineStates = Arr<char, 0, kMaxCalibrationEvents>;

struct CalibrationState {
    Arr<bool, 1, kMaxSerialPorts> cts_was_on, dsr_was_on, cd_was_on, ri_was_on;
    Arr<bool, 1, kMaxSerialPorts> use_cts, use_dsr, use_cd, use_ri, use_data;
    Arr<Arr<char, 1, 255>, 1, kMaxSerialPorts> port_chars;
    Arr<std::int32_t, 1, kMaxSerialPorts> char_counts;
    std::int32_t current_port = 0;
    // Ports whose modem lines cannot be read: only an interface box can be on them.
    Arr<bool, 1, kMaxSerialPorts> lines_unreadable;

    Arr<std::uint32_t, 1, kMaxSerialPorts> initial_status, status_now;
    Arr<bool, 1, kMaxSerialPorts> cts_on, dsr_on, cd_on, ri_on;
    Arr<std::int32_t, 1, kMaxSerialPorts> signal_counts;
    Arr<Arr<std::int64_t, 1, kMaxCalibrationEvents>, 1, kMaxSerialPorts> event_us;
    Arr<PortLineStates, 1, kMaxSerialPorts> cts_states, dsr_states, cd_states, ri_states;
    Arr<bool, 1, kMaxSerialPorts> state_changed;

    std::int32_t good_signals = 0;
    std::int64_t start_ms = 0;
    bool first_run = false;
    bool first_sensing = false;
    bool sensor_data_found = false;
    double max_interval_us = 0;

    // Locals of the detection shared with its steps.
    std::int32_t port_index = 0;
    std::int32_t signal_ports = 0, data_ports = 0;
    Arr<bool, 1, kMaxSerialPorts> signals_mode;
    std::int32_t passes = 0;
    bool detection_ok = false;
    char key = '\0';

    // The bytes of a port read while sensors are detected.
    Arr<char, 1, 255> chars;
    std::int32_t read_timeout_ms = 1;

    // Analysis working data.
    Arr<double, 1, kMaxCalibrationEvents> interval_us;
    Arr<double, 1, kMaxCalibrationEvents> adjusted_interval_us;
};

// ---- console ---------------------------------------------------------------

struct ConsoleState {
    Arr<Arr<std::string, 1, 20>, 0, 9> glyphs;  // digit glyphs
    Arr<std::string, 0, 9> digit_rows;
    bool big_number_stale = false;
};

// ---- automatic ringing -----------------------------------------------------

inline constexpr int kFirstRow = -kRoundsAtStart;

struct AutoringState {
    Arr<std::string, kFirstRow, kMaxRows> rows;
    Arr<std::string, kFirstRow, kMaxRows> notations;
    Arr<char, kFirstRow, kMaxRows> calls;
    Arr<bool, kFirstRow, kMaxRows> notation_matched;
    Arr<std::int32_t, kFirstRow, kMaxRows> symmetry;
    Arr<std::int32_t, kFirstRow, kMaxRows> symmetry_max;
    Arr<std::string, 1, kMaxPlaceNotations> notation_list;
    Arr<char, 1, kMaxPlaceNotations> call_list;
    Arr<std::int32_t, 1, kMaxLeadHeads> lead_heads;
    std::int32_t row_count = 0;
    std::int32_t base_length = 0;
    std::int32_t working_bells = 0;
    std::int32_t notation_count = 0;
    std::int32_t pattern_count = 0;
    std::int32_t plain_count = 0;
    std::string method_text;  // text of the open method file

    std::int32_t bells = kDefaultAutoBells;
    std::string keys;
    std::int32_t peal_minutes = kDefaultPealMinutes;
    std::int64_t interval_ms = 329;
    std::int32_t key_count = 0;
    bool running = false;
    std::int64_t due_ms = 0;
    std::int32_t row = -6;
    std::string double_row_keys;
    bool first_ring = false;
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

    CoreState core;
    TimingState timing;
    Settings cfg;
    SerialState serial;
    KeyoutState keyout;
    CalibrationState calib;
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

    // The striking report: the recorder hears the strike path and tells its
    // own observers what it makes of each touch.
    std::unique_ptr<StrikingRecorder> striking;
    std::unique_ptr<StrikingFiles> striking_files;
    std::unique_ptr<StrikingSummary> striking_summary;
};

}  // namespace qn
