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

void prepare_console(Program& program) {
    program.screen.background_colour(kBlue);
    program.screen.text_colour(kYellow);
    program.console.select(Area::Full);
    program.screen.clear_window();
    program.screen.cursor_visible(false);
    if (!program.run_log.is_open() && !program.run_log.no_log_reason().empty())
        program.screen.write_line("No run log this time: " + program.run_log.no_log_reason());
}

bool stored_port_usable(Program& program) {
    SensorPorts& ports = program.ports;
    program.core.have_serial_port = false;
    bool listed = false;
    for (std::int32_t i = 0; i < ports.count(); ++i) {
        if (program.plat.serial->device_name(ports.name(i)) != program.cfg.port_name) continue;
        listed = true;
        ports.set_handle(i, ports.open(program.cfg.port_name));
        if (ports.handle(i) != 0) {
            program.core.have_serial_port = true;
            ports.close_handle(i);
        }
    }
    if (!listed && program.plat.serial->opens_unlisted(program.cfg.port_name)) {
        const PortHandle h = ports.open(program.cfg.port_name);
        program.core.have_serial_port = h != 0;
        ports.close(h);
    }
    return program.core.have_serial_port;
}

// The settings file names a port: it must still be there and free. A retry
// lists the ports again, so an adapter plugged in meanwhile is found.
void check_stored_port(Program& program) {
    for (;;) {
        if (stored_port_usable(program)) break;
        program.run_log.write_line("Comport " + program.cfg.port_name + " not available");
        program.screen.text_colour(kYellow);
        program.screen.write_line(underscores_to_spaces(kProgramVersion));
        program.screen.text_colour(kWhite);
        program.screen.write_line();
        program.screen.write_line("Configuration file exists, but the specifified port " + program.cfg.port_name +
                         " is NOT available");
        program.screen.write_line("Check if another program using it, e.g. Abel, if so close it");
        program.screen.write_line("Retry (R) or do completely new configuration (c) or Quit (Q)? (R/c/q)");
        char key = upper(program.console.wait_key());
        if (key == 'C') {
            program.settings_file->set_have_file(false);
            break;
        }
        program.ports.list();
    }
    program.screen.clear_window();
}

// What the settings reader named stays on the screen until the ringer has
// read it; with no keyboard the program goes on.
void let_settings_problems_be_read(Program& program) {
    if (program.settings_file->problems() == 0) return;
    program.run_log.flush();
    program.screen.text_colour(kYellow);
    program.screen.write_line("Press any key to go on with these settings [or Q to quit]");
    program.screen.text_colour(kWhite);
    (void)program.console.key_to_go_on();
}

// The settings name no target program the table knows: the ringer chooses,
// and the file keeps the choice.
void ask_target(Program& program) {
    program.settings_file->target_asked();
    program.screen.clear_window();
    choose_target(program.cfg, program.target, *program.plat.windows, program.dialog, program.delivery_report, *program.tower_ring);
    (void)program.settings_file->write(program.cfg, program.target.table());
    program.screen.clear_window();
}

void find_target_window(Program& program) {
    while (program.target_window.seek(program.tower_ring->in_use()) == 'P') {
        program.console.select(Area::Full);
        program.screen.clear_window();
        choose_target(program.cfg, program.target, *program.plat.windows, program.dialog, program.delivery_report, *program.tower_ring);
        program.console.select(Area::Full);
        program.screen.move_to(1, kScratchFirstLine);
        program.screen.write("Program " + program.cfg.target_program + " selected");
        program.screen.clear_to_line_end();  // the rest of the menu's line it is written over
    }
}

// Before the run log, which goes in one of them.
void choose_program_folders(Program& program, const std::string& folder) {
    platform::Files& fs = *program.plat.files;
    Folders& f = program.core.folders;
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

void key_send_test(Program& program) {
    if (!program.target.seeks_window() || program.cfg.target_program != "NOT ACTIVATED  Ringing Room") return;
    program.screen.write_line("Key send test - one hand and back round");
    program.console.pause_ms(3000);
    for (int i = 0; i <= 15; ++i) {
        program.key_typer.type(std::string(1, static_cast<char>('1' + i % 8)));
        program.console.pause_ms(300);
    }
    program.screen.write_line("Ending Key send test - hand and back rounds");
}

// The striking report hears the strike path like any observer; what it
// makes of a touch goes to the screen and beside the run log.
void wire_striking_report(Program& program) {
    program.striking = std::make_unique<StrikingRecorder>(program.plat.threads);
    program.striking_files = std::make_unique<StrikingFiles>(program.run_log, *program.plat.files, *program.plat.threads);
    program.striking_summary = std::make_unique<StrikingSummary>(program.screen, [&program] { return program.striking_files->files_line(); });
    program.striking->add(*program.striking_files);
    program.striking->add(*program.striking_summary);
    program.strike_report.add(*program.striking);
}

// A signal the watch loop took: the keys of its sensing points queued (and
// handed to a tower link at once, to go ahead of their due time), a key due
// at once sent at once, the row counted.
void take_signal(Program& program) {
    StrikePath& strikes = *program.strikes;
    strikes.begin_signal();
    for (std::int32_t point = 0; point < strikes.points(); ++point) {
        if (!strikes.signal_reaches(point)) continue;
        const bool due_now = strikes.queue_key(point);
        if (program.tower->in_use()) {
            const SensingPoint& p = program.target.point(point);
            program.tower->ring_ahead(strikes.keys().handstroke() ? p.hand_key : p.back_key, strikes.keys().due_us(point));
        }
        if (due_now) program.key_sender->send_due_keys();
    }
    strikes.end_signal();
}

// The strike path decides; the screen regions and the run log hear what it
// decided, the counter first, the notices after the log (they say whether
// it was written).
void wire_strike_path(Program& program) {
    program.strikes = std::make_unique<StrikePath>(program.cfg, program.target, program.clock, program.strike_report);
    program.strike_notices = std::make_unique<StrikeNotices>(program.screen, program.run_log);
    program.monitor = std::make_unique<MonitorRegion>(program.screen);
    program.big_counter = std::make_unique<BigCounter>(program.screen, program.big_digits);
    program.strike_log = std::make_unique<StrikeLog>(program.run_log, program.event_ring);
    program.strike_report.add(*program.monitor);
    program.strike_report.add(*program.big_counter);
    program.strike_report.add(*program.strike_log);
    program.strike_report.add(*program.strike_notices);
    program.band_lines = std::make_unique<BandLines>(program.screen, [&program] { return program.striking ? program.striking->last() : nullptr; });
    program.strike_report.add(*program.band_lines);
    program.band = std::make_unique<Band>(program.cfg, program.clock, program.strike_report, program.strikes->rows());
    program.port_watch = std::make_unique<PortWatch>(program.cfg, program.sensing, *program.strikes, *program.band, program.sensing_report, program.clock,
                                               program.run_log, [&program] { take_signal(program); },
                                               [&program](std::size_t bell) { take_band_signal(program, bell); });
    wire_striking_report(program);
}

// What the service screen shows of the keys' state and the tower link.
class ServiceFactsOf : public ServiceFacts {
public:
    explicit ServiceFactsOf(const Program& program) : program_(program) {}
    bool target_has_focus() const override { return program_.key_sender->has_focus(); }
    bool target_must_be_foreground() const override {
        return target_driver(program_.target).route == KeyRoute::FocusedWindow;
    }
    bool rings_tower() const override { return program_.tower->in_use(); }
    void write_calibration(TextSink& out) const override {
        write_current_calibration(out, program_.cfg, program_.target, program_.core.easy_mode);
    }

private:
    const Program& program_;
};

void wire_service_screen(Program& program) {
    program.service_facts = std::make_unique<ServiceFactsOf>(program);
    program.service_screen = std::make_unique<ServiceScreen>(program.screen, program.dialog, program.cfg, program.clock, program.plat, program.run_log,
                                                       program.strikes->rows(), *program.monitor, *program.big_counter,
                                                       *program.service_facts);
}

void wire_sensing(Program& program) {
    program.port_lost_notice = std::make_unique<PortLostNotice>(program.screen);
    program.sensing_log = std::make_unique<SensingLog>(program.run_log);
    program.sensing_report.add(*program.port_lost_notice);
    program.sensing_report.add(*program.sensing_log);
}

// What the service port's adapter does to incoming bytes, in the log; a
// warning for the ringer on the scratch lines.
void show_port_latency(Program& program) {
    const PortLatencyNote note = program.ports.tune_latency(program.cfg.rest_on_mode);
    if (note.warning.empty()) return;
    program.console.select(Area::Full);
    program.screen.text_colour(kYellow);
    program.screen.move_to(1, kScratchFirstLine);
    for (const std::string& line : note.warning) program.screen.write_line(line);
    program.screen.text_colour(kWhite);
}

// The service screen's figures after each due key (the counter and the
// monitor rows brought up to now), and its menu when the target changes.
class ScreenUpdates : public DeliveryReport {
public:
    explicit ScreenUpdates(Program& program) : program_(program) {}
    void due_key_handled(const DueKeyHandled&) override { program_.service_screen->update(); }
    // The menu names the target, and whether its keys go to the tower.
    void target_taken(const TargetTaken&) override { program_.service_screen->write_menu(); }

private:
    Program& program_;
};

// Key delivery decides; the screen and the run log hear it, the screen first.
void wire_delivery(Program& program) {
    program.delivery_notices = std::make_unique<DeliveryNotices>(program.screen, *program.service_screen);
    program.delivery_log = std::make_unique<DeliveryLog>(program.run_log, program.plat);
    program.screen_updates = std::make_unique<ScreenUpdates>(program);
    program.delivery_report.add(*program.delivery_notices);
    program.delivery_report.add(*program.delivery_log);
    program.delivery_report.add(*program.screen_updates);
    program.tower_ring = make_tower_ring(program);
    program.key_sender = std::make_unique<KeySender>(program.cfg, program.clock, program.dialog, program.delivery_report, *program.plat.windows, program.target,
                                               program.target_window, program.key_typer, program.strikes->keys(), *program.tower_ring);
    program.configuration_menu = std::make_unique<ConfigurationMenu>(program.cfg, program.target, *program.plat.windows, program.dialog,
                                                               program.delivery_report, *program.tower_ring, *program.settings_file);
}

// The ringer's keys go over the tower link when one runs, else to the
// target's window.
void wire_autoring(Program& program) {
    auto send_key = [&program](char ch) {
        if (program.tower->export_key(ch)) return;
        // Ringing Room takes the eleventh and twelfth bells on "-" and "=".
        const std::int32_t target = program.target.index();
        if (target >= 1 && target <= 3) {
            if (ch == 'E') ch = '-';
            else if (ch == 'T') ch = '=';
        }
        program.key_typer.type(std::string(1, ch));
    };
    program.autoring = std::make_unique<AutomaticRinging>(program.clock, program.run_log, program.dialog, *program.plat.files, send_key);
    program.autoring->ringer().tell_beats_to(program.strike_report,
                                       [&program] { return program.tower->in_use() ? program.cfg.tower_bell_j : 0; });
}

// The link reads the target through the key table; the screen's line is
// drawn once per pass of the loop.
void wire_tower_link(Program& program) {
    program.tower = std::make_unique<TowerService>(program.cfg, program.clock, program.dialog, program.run_log, program.plat, program.strike_report,
                                             program.delivery_report,
                                             [&program] { return target_driver(program.target).ringing_room; });
    program.tower_line = std::make_unique<TowerLine>(program.screen, program.cfg, *program.tower);
}

}  // namespace

bool load_settings(Program& program, const std::string& path) {
    if (!program.settings_file->read(path, program.cfg, program.target.table())) return false;
    load_target_parameters(program.target, *program.plat.windows, program.cfg.target_program);
    write_current_calibration(program.run_log, program.cfg, program.target, program.core.easy_mode);
    write_other_program_options(program.target, program.cfg, program.run_log);
    return true;
}

std::unique_ptr<Program> make_program(platform::Platform& p) {
    auto program = std::make_unique<Program>(p);
    wire_strike_path(*program);
    wire_service_screen(*program);
    wire_sensing(*program);
    wire_delivery(*program);
    wire_tower_link(*program);
    wire_autoring(*program);
    return program;
}

void startup(Program& program, const ProgramOptions& options) {
    program.cfg.signals_mode = false;
    program.cfg.rest_on_mode = false;
    auto opened = program.plat.console->open(Screen::kRows, Screen::kCols);
    program.screen.attach(program.plat.console);
    choose_program_folders(program, options.folder);
    start_run_log(program.run_log, *program.plat.files, program.screen, program.core.folders.logs);
    const Folders& folders = program.core.folders;
    platform::Files& fs = *program.plat.files;
    program.run_log.write_line("Settings folder: " + folder_text(fs, folders.settings) + "; run logs: " +
                         folder_text(fs, folders.logs) + " (" + folders.reason + ")");
    if (!opened.ok()) program.run_log.write_line("Console: " + opened.error());
    program.ending->take_requests();
    auto res = program.plat.threads->raise_timer_resolution();
    if (!res.ok()) program.run_log.write_line("Timer resolution: " + res.error());
    prepare_console(program);
    log_desktop(program.run_log, program.plat.windows->desktop());
    program.ports.list();
    program.clock.start();
    program.run_log.write_line(program.clock.calibration_line());
    if (!options.easy_mode) program.core.easy_mode = false;

    SettingsFile& settings_file = *program.settings_file;
    settings_file.set_folder(folders.settings);
    settings_file.set_base_name(kProgramVersion);
    settings_file.set_have_file(load_settings(program, settings_file.path()));
    let_settings_problems_be_read(program);
    if (settings_file.have_file()) check_stored_port(program);
    if (!settings_file.have_file()) {
        settings_file.target_asked();  // calibration asks for it
        write_startup_text(program.screen);
        if (!folders.settings.empty())
            program.screen.write_line("Settings are kept in " + fs.shown_path(folders.settings) + ", run logs in " +
                                fs.shown_path(folders.logs));
        calibrate(program, true);
    }
    if (load_settings(program, settings_file.bespoke_path())) {
        program.screen.write_line("bespoke settings read");
        program.run_log.write_line("bespoke settings read");
    }
    let_settings_problems_be_read(program);
    if (settings_file.target_unknown()) ask_target(program);
    program.run_log.flush();
    // Calibration leaves its port open; opening it again (exclusively) would
    // fail, so an open port only gets the service settings.
    if (!program.sensing.thread_running()) {
        if (program.ports.service() == 0)
            program.sensing.open_service_port();
        else
            (void)program.ports.set_service_settings(program.ports.service(), program.cfg.port_name);
    }
    if (!program.cfg.rest_on_mode && !program.sensing.thread_running()) program.sensing.start_thread(program.ports.service(), program.cfg.use_line);

    program.tower->set_band(band_bells(program.cfg));  // the band joins with the link, once
    program.tower->start();
    find_target_window(program);
    program.run_log.write_line(" the following calibration is assumed on entry to main cycle");
    write_current_calibration(program.run_log, program.cfg, program.target, program.core.easy_mode);
    write_other_program_options(program.target, program.cfg, program.run_log);
    program.run_log.flush();
    key_send_test(program);

    program.strikes->restart_cycle();
    program.strikes->rows().zero();
    program.service_screen->show();
    show_port_latency(program);
    program.strikes->keys().settle_all();
    set_up_band(program);
    program.autoring->ringer().rewind();
    ask_for_realtime(program.plat.scheduling, program.run_log, TimingThread::MainLoop,
                     LoopPace{program.cfg.loop_sleep_ms, program.cfg.rest_on_mode});
    prepare_service_loop(program);
}

int quennick_main(Program& program, const ProgramOptions& options) {
    startup(program, options);
    // Every end of a run is RunEnd's, which does not come back.
    for (;;) main_loop_pass(program);
}

}  // namespace qn
