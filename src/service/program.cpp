#include "service/program.h"

#include "link/session.h"

#include "autoring/automatic_ringing.h"
#include "autoring/driver.h"
#include "service/band.h"
#include "service/calibrate.h"
#include "config/configfile.h"
#include "console/calibsummary.h"
#include "ui/service_screen.h"
#include "service/run_end.h"
#include "core/scheduling.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "keyout/dispatch.h"
#include "keyout/keysending.h"
#include "keyout/menus.h"
#include "keyout/sendtext.h"
#include "keyout/targets.h"
#include "link/tower.h"
#include "runlog/delivery_log.h"
#include "runlog/strike_log.h"
#include "runlog/striking_files.h"
#include "serial/ports.h"
#include "serial/sensing.h"
#include "serial/serial_thread.h"
#include "runlog/sensing_log.h"
#include "ui/port_lost_notice.h"
#include "service/keycheck.h"
#include "service/loop.h"
#include "service/tower_ring.h"
#include "runlog/run_log_start.h"
#include "striking/recorder.h"
#include "strokes/band.h"
#include "strokes/strike_path.h"
#include "strokes/watchports.h"
#include "ui/band_lines.h"
#include "ui/big_counter.h"
#include "ui/delivery_notices.h"
#include "ui/monitor_region.h"
#include "ui/strike_notices.h"
#include "ui/tower_line.h"
#include "ui/striking_summary.h"

namespace qn {
Program::Program(platform::Platform& p)
    : plat(p),
      ending(std::make_unique<RunEnd>(*this)),
      waiting(std::make_unique<MainThreadWaiting>(*this)),
      console(screen, p.console, *waiting, *ending),
      dialog(console),
      clock(*p.clock, *p.threads, *p.wait),
      ports(*p.serial, run_log),
      sensing(ports, event_ring, clock, cfg, run_log, dialog, *p.serial, *p.wait, *p.threads,
              [this] { ask_for_realtime(plat.scheduling, run_log, TimingThread::Serial); }),
      settings_file(std::make_unique<SettingsFile>(p, run_log, dialog)),
      target_window(*p.windows, dialog, delivery_report, cfg, target),
      key_typer(*p.keyboard, delivery_report) {}
Program::~Program() = default;


namespace {

void prepare_console(Program& c) {
    c.screen.background_colour(kBlue);
    c.screen.text_colour(kYellow);
    c.console.select(Area::Full);
    c.screen.clear_window();
    c.screen.cursor_visible(false);
    if (!c.run_log.is_open() && !c.run_log.no_log_reason().empty())
        c.screen.write_line("No run log this time: " + c.run_log.no_log_reason());
}

bool stored_port_usable(Program& c) {
    SensorPorts& ports = c.ports;
    c.core.have_serial_port = false;
    bool listed = false;
    for (std::int32_t i = 0; i < ports.count(); ++i) {
        if (c.plat.serial->device_name(ports.name(i)) != c.cfg.port_name) continue;
        listed = true;
        ports.set_handle(i, ports.open(c.cfg.port_name));
        if (ports.handle(i) != 0) {
            c.core.have_serial_port = true;
            ports.close_handle(i);
        }
    }
    if (!listed && c.plat.serial->opens_unlisted(c.cfg.port_name)) {
        const PortHandle h = ports.open(c.cfg.port_name);
        c.core.have_serial_port = h != 0;
        ports.close(h);
    }
    return c.core.have_serial_port;
}

// The settings file names a port: it must still be there and free. A retry
// lists the ports again, so an adapter plugged in meanwhile is found.
void check_stored_port(Program& c) {
    for (;;) {
        if (stored_port_usable(c)) break;
        c.run_log.write_line("Comport " + c.cfg.port_name + " not available");
        c.screen.text_colour(kYellow);
        c.screen.write_line(underscores_to_spaces(kProgramVersion));
        c.screen.text_colour(kWhite);
        c.screen.write_line();
        c.screen.write_line("Configuration file exists, but the specifified port " + c.cfg.port_name +
                         " is NOT available");
        c.screen.write_line("Check if another program using it, e.g. Abel, if so close it");
        c.screen.write_line("Retry (R) or do completely new configuration (c) or Quit (Q)? (R/c/q)");
        char key = upper(c.console.wait_key());
        if (key == 'C') {
            c.settings_file->set_have_file(false);
            break;
        }
        c.ports.list();
    }
    c.screen.clear_window();
}

// What the settings reader named stays on the screen until the ringer has
// read it; with no keyboard the program goes on.
void let_settings_problems_be_read(Program& c) {
    if (c.settings_file->problems() == 0) return;
    c.run_log.flush();
    c.screen.text_colour(kYellow);
    c.screen.write_line("Press any key to go on with these settings [or Q to quit]");
    c.screen.text_colour(kWhite);
    (void)c.console.key_to_go_on();
}

// The settings name no target program the table knows: the ringer chooses,
// and the file keeps the choice.
void ask_target(Program& c) {
    c.settings_file->target_asked();
    c.screen.clear_window();
    choose_target(c.cfg, c.target, *c.plat.windows, c.dialog, c.delivery_report, *c.tower_ring);
    (void)c.settings_file->write(c.cfg, c.target.table());
    c.screen.clear_window();
}

void find_target_window(Program& c) {
    while (c.target_window.seek(c.tower_ring->in_use()) == 'P') {
        c.console.select(Area::Full);
        c.screen.clear_window();
        choose_target(c.cfg, c.target, *c.plat.windows, c.dialog, c.delivery_report, *c.tower_ring);
        c.console.select(Area::Full);
        c.screen.move_to(1, kScratchFirstLine);
        c.screen.write("Program " + c.cfg.target_program + " selected");
        c.screen.clear_to_line_end();  // the rest of the menu's line it is written over
    }
}

// Before the run log, which goes in one of them.
void choose_program_folders(Program& c, const std::string& folder) {
    platform::Files& fs = *c.plat.files;
    Folders& f = c.core.folders;
    const platform::UserDirs dirs = fs.user_dirs();
    const std::string name = std::string(kProgramVersion) + ".ini";
    SettingsFound found;
    found.here = fs.exists(name);
    found.beside_program = !dirs.program_dir.empty() && fs.exists(in_folder(dirs.program_dir, name));
    f = choose_folders(dirs, folder, found);
    // A folder that cannot be made shows when the settings are written.
    if (!f.settings.empty()) (void)make_folders(fs, f.settings);
}

std::string folder_text(platform::Files& fs, const std::string& folder) {
    return folder.empty() ? "the current folder" : fs.shown_path(folder);
}

void key_send_test(Program& c) {
    if (!c.target.seeks_window() || c.cfg.target_program != "NOT ACTIVATED  Ringing Room") return;
    c.screen.write_line("Key send test - one hand and back round");
    c.console.pause_ms(3000);
    for (int i = 0; i <= 15; ++i) {
        c.key_typer.type(std::string(1, static_cast<char>('1' + i % 8)));
        c.console.pause_ms(300);
    }
    c.screen.write_line("Ending Key send test - hand and back rounds");
}

// The striking report hears the strike path like any observer; what it
// makes of a touch goes to the screen and beside the run log.
void wire_striking_report(Program& c) {
    c.striking = std::make_unique<StrikingRecorder>(c.plat.threads);
    c.striking_files = std::make_unique<StrikingFiles>(c.run_log, *c.plat.files, *c.plat.threads);
    c.striking_summary = std::make_unique<StrikingSummary>(c.screen, [&c] { return c.striking_files->files_line(); });
    c.striking->add(*c.striking_files);
    c.striking->add(*c.striking_summary);
    c.strike_report.add(*c.striking);
}

// A signal the watch loop took: the keys of its sensing points queued (and
// handed to a tower link at once, to go ahead of their due time), a key due
// at once sent at once, the row counted.
void take_signal(Program& c) {
    StrikePath& strikes = *c.strikes;
    strikes.begin_signal();
    for (std::int32_t point = 0; point < strikes.points(); ++point) {
        if (!strikes.signal_reaches(point)) continue;
        const bool due_now = strikes.queue_key(point);
        if (c.tower->in_use()) {
            const SensingPoint& p = c.target.point(point);
            c.tower->ring_ahead(strikes.keys().handstroke() ? p.hand_key : p.back_key, strikes.keys().due_us(point));
        }
        if (due_now) c.key_sender->send_due_keys();
    }
    strikes.end_signal();
}

// The strike path decides; the screen regions and the run log hear what it
// decided, the counter first, the notices after the log (they say whether
// it was written).
void wire_strike_path(Program& c) {
    c.strikes = std::make_unique<StrikePath>(c.cfg, c.target, c.clock, c.strike_report);
    c.strike_notices = std::make_unique<StrikeNotices>(c.screen, c.run_log);
    c.monitor = std::make_unique<MonitorRegion>(c.screen);
    c.big_counter = std::make_unique<BigCounter>(c.screen, c.big_digits);
    c.strike_log = std::make_unique<StrikeLog>(c.run_log, c.event_ring);
    c.strike_report.add(*c.monitor);
    c.strike_report.add(*c.big_counter);
    c.strike_report.add(*c.strike_log);
    c.strike_report.add(*c.strike_notices);
    c.band_lines = std::make_unique<BandLines>(c.screen, [&c] { return c.striking ? c.striking->last() : nullptr; });
    c.strike_report.add(*c.band_lines);
    c.band = std::make_unique<Band>(c.cfg, c.clock, c.strike_report, c.strikes->rows());
    c.port_watch = std::make_unique<PortWatch>(c.cfg, c.sensing, *c.strikes, *c.band, c.sensing_report, c.clock,
                                               c.run_log, [&c] { take_signal(c); },
                                               [&c](std::size_t bell) { take_band_signal(c, bell); });
    wire_striking_report(c);
}

// What the service screen shows of the keys' state and the tower link.
class ServiceFactsOf : public ServiceFacts {
public:
    explicit ServiceFactsOf(const Program& c) : c_(c) {}
    bool target_has_focus() const override { return c_.key_sender->has_focus(); }
    bool target_must_be_foreground() const override {
        return target_driver(c_.target).route == KeyRoute::FocusedWindow;
    }
    bool rings_tower() const override { return c_.tower->in_use(); }
    void write_calibration(TextSink& out) const override {
        write_current_calibration(out, c_.cfg, c_.target, c_.core.easy_mode);
    }

private:
    const Program& c_;
};

void wire_service_screen(Program& c) {
    c.service_facts = std::make_unique<ServiceFactsOf>(c);
    c.service_screen = std::make_unique<ServiceScreen>(c.screen, c.dialog, c.cfg, c.clock, c.plat, c.run_log,
                                                       c.strikes->rows(), *c.monitor, *c.big_counter,
                                                       *c.service_facts);
}

void wire_sensing(Program& c) {
    c.port_lost_notice = std::make_unique<PortLostNotice>(c.screen);
    c.sensing_log = std::make_unique<SensingLog>(c.run_log);
    c.sensing_report.add(*c.port_lost_notice);
    c.sensing_report.add(*c.sensing_log);
}

// What the service port's adapter does to incoming bytes, in the log; a
// warning for the ringer on the scratch lines.
void show_port_latency(Program& c) {
    const PortLatencyNote note = c.ports.tune_latency(c.cfg.rest_on_mode);
    if (note.warning.empty()) return;
    c.console.select(Area::Full);
    c.screen.text_colour(kYellow);
    c.screen.move_to(1, kScratchFirstLine);
    for (const std::string& line : note.warning) c.screen.write_line(line);
    c.screen.text_colour(kWhite);
}

// The service screen's figures after each due key (the counter and the
// monitor rows brought up to now), and its menu when the target changes.
class ScreenUpdates : public DeliveryReport {
public:
    explicit ScreenUpdates(Program& c) : c_(c) {}
    void due_key_handled(const DueKeyHandled&) override { c_.service_screen->update(); }
    // The menu names the target, and whether its keys go to the tower.
    void target_taken(const TargetTaken&) override { c_.service_screen->write_menu(); }

private:
    Program& c_;
};

// Key delivery decides; the screen and the run log hear it, the screen first.
void wire_delivery(Program& c) {
    c.delivery_notices = std::make_unique<DeliveryNotices>(c.screen, *c.service_screen);
    c.delivery_log = std::make_unique<DeliveryLog>(c.run_log, c.plat);
    c.screen_updates = std::make_unique<ScreenUpdates>(c);
    c.delivery_report.add(*c.delivery_notices);
    c.delivery_report.add(*c.delivery_log);
    c.delivery_report.add(*c.screen_updates);
    c.tower_ring = make_tower_ring(c);
    c.key_sender = std::make_unique<KeySender>(c.cfg, c.clock, c.dialog, c.delivery_report, *c.plat.windows, c.target,
                                               c.target_window, c.key_typer, c.strikes->keys(), *c.tower_ring);
    c.configuration_menu = std::make_unique<ConfigurationMenu>(c.cfg, c.target, *c.plat.windows, c.dialog,
                                                               c.delivery_report, *c.tower_ring, *c.settings_file);
}

// The ringer's keys go over the tower link when one runs, else to the
// target's window.
void wire_autoring(Program& c) {
    auto send_key = [&c](char ch) {
        if (c.tower->export_key(ch)) return;
        // Ringing Room takes the eleventh and twelfth bells on "-" and "=".
        const std::int32_t target = c.target.index();
        if (target >= 1 && target <= 3) {
            if (ch == 'E') ch = '-';
            else if (ch == 'T') ch = '=';
        }
        c.key_typer.type(std::string(1, ch));
    };
    c.autoring = std::make_unique<AutomaticRinging>(c.clock, c.run_log, c.dialog, *c.plat.files, send_key);
    c.autoring->ringer().tell_beats_to(c.strike_report,
                                       [&c] { return c.tower->in_use() ? c.cfg.tower_bell_j : 0; });
}

// The link reads the target through the key table; the screen's line is
// drawn once per pass of the loop.
void wire_tower_link(Program& c) {
    c.tower = std::make_unique<TowerService>(c.cfg, c.clock, c.dialog, c.run_log, c.plat, c.strike_report,
                                             c.delivery_report,
                                             [&c] { return target_driver(c.target).ringing_room; });
    c.tower_line = std::make_unique<TowerLine>(c.screen, c.cfg, *c.tower);
}

}  // namespace

bool load_settings(Program& c, const std::string& path) {
    if (!c.settings_file->read(path, c.cfg, c.target.table())) return false;
    load_target_parameters(c.target, *c.plat.windows, c.cfg.target_program);
    write_current_calibration(c.run_log, c.cfg, c.target, c.core.easy_mode);
    write_other_program_options(c.target, c.cfg, c.run_log);
    return true;
}

std::unique_ptr<Program> make_program(platform::Platform& p) {
    auto c = std::make_unique<Program>(p);
    wire_strike_path(*c);
    wire_service_screen(*c);
    wire_sensing(*c);
    wire_delivery(*c);
    wire_tower_link(*c);
    wire_autoring(*c);
    return c;
}

void startup(Program& c, const ProgramOptions& options) {
    c.cfg.signals_mode = false;
    c.cfg.rest_on_mode = false;
    auto opened = c.plat.console->open(Screen::kRows, Screen::kCols);
    c.screen.attach(c.plat.console);
    choose_program_folders(c, options.folder);
    start_run_log(c.run_log, *c.plat.files, c.screen, c.core.folders.logs);
    const Folders& folders = c.core.folders;
    platform::Files& fs = *c.plat.files;
    c.run_log.write_line("Settings folder: " + folder_text(fs, folders.settings) + "; run logs: " +
                         folder_text(fs, folders.logs) + " (" + folders.reason + ")");
    if (!opened.ok()) c.run_log.write_line("Console: " + opened.error());
    c.ending->take_requests();
    auto res = c.plat.threads->raise_timer_resolution();
    if (!res.ok()) c.run_log.write_line("Timer resolution: " + res.error());
    prepare_console(c);
    log_desktop(c.run_log, c.plat.windows->desktop());
    c.ports.list();
    c.clock.start();
    c.run_log.write_line(c.clock.calibration_line());
    if (!options.easy_mode) c.core.easy_mode = false;

    SettingsFile& settings_file = *c.settings_file;
    settings_file.set_folder(folders.settings);
    settings_file.set_base_name(kProgramVersion);
    settings_file.set_have_file(load_settings(c, settings_file.path()));
    let_settings_problems_be_read(c);
    if (settings_file.have_file()) check_stored_port(c);
    if (!settings_file.have_file()) {
        settings_file.target_asked();  // calibration asks for it
        write_startup_text(c.screen);
        if (!folders.settings.empty())
            c.screen.write_line("Settings are kept in " + fs.shown_path(folders.settings) + ", run logs in " +
                                fs.shown_path(folders.logs));
        calibrate(c, true);
    }
    if (load_settings(c, settings_file.bespoke_path())) {
        c.screen.write_line("bespoke settings read");
        c.run_log.write_line("bespoke settings read");
    }
    let_settings_problems_be_read(c);
    if (settings_file.target_unknown()) ask_target(c);
    c.run_log.flush();
    // Calibration leaves its port open; opening it again (exclusively) would
    // fail, so an open port only gets the service settings.
    if (!c.sensing.thread_running()) {
        if (c.ports.service() == 0)
            c.sensing.open_service_port();
        else
            (void)c.ports.set_service_settings(c.ports.service(), c.cfg.port_name);
    }
    if (!c.cfg.rest_on_mode && !c.sensing.thread_running()) c.sensing.start_thread(c.ports.service(), c.cfg.use_line);

    c.tower->set_band(band_bells(c.cfg));  // the band joins with the link, once
    c.tower->start();
    find_target_window(c);
    c.run_log.write_line(" the following calibration is assumed on entry to main cycle");
    write_current_calibration(c.run_log, c.cfg, c.target, c.core.easy_mode);
    write_other_program_options(c.target, c.cfg, c.run_log);
    c.run_log.flush();
    key_send_test(c);

    c.strikes->restart_cycle();
    c.strikes->rows().zero();
    c.service_screen->show();
    show_port_latency(c);
    c.strikes->keys().settle_all();
    set_up_band(c);
    c.autoring->ringer().rewind();
    ask_for_realtime(c.plat.scheduling, c.run_log, TimingThread::MainLoop,
                     LoopPace{c.cfg.loop_sleep_ms, c.cfg.rest_on_mode});
    prepare_service_loop(c);
}

int quennick_main(Program& c, const ProgramOptions& options) {
    startup(c, options);
    // Every end of a run is RunEnd's, which does not come back.
    for (;;) main_loop_pass(c);
}

}  // namespace qn
