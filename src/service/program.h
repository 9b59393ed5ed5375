// The program: Program owns every part, each made with what it uses and
// wired to the reports it tells; the service loop (service/loop.h) drives
// them. This is the top of the program: it may use any band; none uses it.
#pragma once


#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/folders.h"
#include "config/settings.h"
#include "console/console.h"
#include "console/glyphs.h"
#include "console/layout.h"
#include "console/screen.h"
#include "core/checked_array.h"
#include "core/delivery_records.h"
#include "core/dialog.h"
#include "core/modem_line.h"
#include "core/sensing_records.h"
#include "core/stopwatch.h"
#include "core/timing.h"
#include "core/strike_records.h"
#include "platform/platform.h"
#include "runlog/run_log.h"
#include "serial/event_ring.h"
#include "serial/ports.h"
#include "serial/sensing.h"
#include "config/current_target.h"
#include "keyout/sendtext.h"
#include "keyout/target_window.h"

namespace qn {


class TowerService;
class TowerLine;
class ServiceFacts;
class ServiceScreen;
class StrikePath;
class Band;
class BandLines;
class AutomaticRinging;
class SettingsFile;
class MonitorRegion;
class BigCounter;
class StrikeNotices;
class StrikeLog;
class RunEnd;
class MainThreadWaiting;
class PortWatch;
class PortLostNotice;
class SensingLog;
class DeliveryNotices;
class DeliveryLog;
class StrikingRecorder;
class StrikingSummary;
class StrikingFiles;
class KeySender;
class ConfigurationMenu;
class TowerRing;

using platform::PortHandle;
using platform::WindowHandle;

// ---- program core ----------------------------------------------------------

struct CoreState {
    bool easy_mode = true;
    bool have_serial_port = false;
    Folders folders;  // where the settings, logs and touch files are
    bool wait_failure_logged = false;  // the service loop's wait failed and said so
};

// ---- the program -----------------------------------------------------------

struct Program {
    explicit Program(platform::Platform& p);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    platform::Platform& plat;
    Screen screen;      // the console model
    RunLog run_log;    // the run log
    std::unique_ptr<RunEnd> ending;          // every way the run ends
    std::unique_ptr<MainThreadWaiting> waiting;
    Console console;   // the ringer's side: the screen's areas and the keyboard
    Dialog& dialog;    // the console, as the domain asks its questions

    CoreState core;
    RunClock clock;  // the run's stopwatch and the waits measured by it
    Settings cfg;
    // Sensing: the ports, the event ring, their owner, and the watch loop
    // on them (made by make_program).
    SensorPorts ports;
    EventRing event_ring;
    Sensing sensing;
    std::unique_ptr<PortWatch> port_watch;
    SensingReportFanOut sensing_report;
    std::unique_ptr<PortLostNotice> port_lost_notice;
    std::unique_ptr<SensingLog> sensing_log;
    std::unique_ptr<SettingsFile> settings_file;
    CurrentTarget target;  // the target the keys go to, and its sensing points
    BigDigits big_digits;
    std::unique_ptr<ServiceFacts> service_facts;  // what the service screen reads of the rest
    std::unique_ptr<ServiceScreen> service_screen;
    std::unique_ptr<AutomaticRinging> autoring;  // made by make_program (service/program.h)
    std::unique_ptr<TowerService> tower;  // the tower link, made by make_program
    std::unique_ptr<TowerLine> tower_line;

    // The strike path and its observers, made and wired by make_program
    // (service/program.h).
    StrikeReportFanOut strike_report;
    std::unique_ptr<StrikePath> strikes;
    std::unique_ptr<MonitorRegion> monitor;
    std::unique_ptr<BigCounter> big_counter;
    std::unique_ptr<StrikeNotices> strike_notices;
    std::unique_ptr<StrikeLog> strike_log;
    // Band mode: a path per bell of the box, the band's rows counted on the
    // one path's counter (the screen's), and a key sender per bell.
    std::unique_ptr<Band> band;
    std::unique_ptr<BandLines> band_lines;  // a cell per bell on the service screen
    std::vector<std::unique_ptr<TowerRing>> band_rings;  // a bell's rings over the link
    std::vector<std::unique_ptr<KeySender>> band_senders;

    // Key delivery's report and its observers, wired by make_program.
    DeliveryReportFanOut delivery_report;
    std::unique_ptr<DeliveryNotices> delivery_notices;
    std::unique_ptr<DeliveryLog> delivery_log;
    std::unique_ptr<DeliveryReport> screen_updates;  // the service screen after each key
    // The striking report: the recorder hears the strike path and tells its
    // own observers what it makes of each touch.
    std::unique_ptr<StrikingRecorder> striking;
    std::unique_ptr<StrikingFiles> striking_files;
    std::unique_ptr<StrikingSummary> striking_summary;

    // Key delivery's owners; the sender, the menu and the link as they see
    // it are made by make_program.
    TargetWindow target_window;
    KeyTyper key_typer;
    std::unique_ptr<TowerRing> tower_ring;
    std::unique_ptr<KeySender> key_sender;
    std::unique_ptr<ConfigurationMenu> configuration_menu;
};




// A program on the given services, its parts wired, not yet started.
// Programs are large (about 1 MB): they are made on the heap.
std::unique_ptr<Program> make_program(platform::Platform& p);

// The program's command line (service/command_line.h reads it).
struct ProgramOptions {
    bool easy_mode = true;  // -A (on Windows /A): the fuller screens
    std::string folder;     // --folder: every file there; empty: the usual place
};

// Reads a settings file (config/configfile.h); one that can be used selects
// its target program, and the run log gets the calibration and the other
// programs' options.
bool load_settings(Program& program, const std::string& path);

// Start-up, then service until the run ends: every end is RunEnd's, which
// gives the exit code and does not come back.
int quennick_main(Program& program, const ProgramOptions& options);
void startup(Program& program, const ProgramOptions& options);

}  // namespace qn
