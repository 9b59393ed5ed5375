#include "service/program.h"

#include "calibration/calibrate.h"
#include "config/configfile.h"
#include "console/bignumber.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/desktop.h"
#include "keyout/dispatch.h"
#include "keyout/keysending.h"
#include "keyout/sendtext.h"
#include "keyout/targets.h"
#include "link/tower.h"
#include "runlog/strike_log.h"
#include "serial/ports.h"
#include "serial/serialthread_shorts_xz.h"
#include "service/keycheck.h"
#include "service/loop.h"
#include "strokes/logs.h"
#include "strokes/strike_path.h"
#include "ui/big_counter.h"
#include "ui/monitor_region.h"
#include "ui/strike_notices.h"

namespace qn {

namespace {

void prepare_console(Context& c) {
    c.screen.textbackground(BLUE);
    c.screen.textcolor(YELLOW);
    FULLWINDOW(c);
    c.screen.clrscr();
    c.screen.cursor_visible(false);
    if (!c.FOOERROR.is_open() && !c.FOOERROR.no_log_reason().empty())
        c.screen.writeln("No run log this time: " + c.FOOERROR.no_log_reason());
}

bool stored_port_usable(Context& c) {
    SerialState& s = c.serial;
    c.core.GOTTHESERIALPORT = false;
    bool listed = false;
    for (std::int32_t i = 1; i <= s.PORTSTOTAL; ++i) {
        if (c.plat.serial->device_name(s.PORTNAME[i]) != c.cfg.COMPORTNAME) continue;
        listed = true;
        s.SERIALHANDLEARR[i] = open_serial_port(c, c.cfg.COMPORTNAME);
        if (s.SERIALHANDLEARR[i] != 0) {
            c.core.GOTTHESERIALPORT = true;
            close_serial_port(c, s.SERIALHANDLEARR[i]);
            s.SERIALHANDLEARR[i] = 0;
        }
    }
    if (!listed && c.plat.serial->opens_unlisted(c.cfg.COMPORTNAME)) {
        const PortHandle h = open_serial_port(c, c.cfg.COMPORTNAME);
        c.core.GOTTHESERIALPORT = h != 0;
        close_serial_port(c, h);
    }
    return c.core.GOTTHESERIALPORT;
}

// The settings file names a port: it must still be there and free. A retry
// lists the ports again, so an adapter plugged in meanwhile is found.
void check_stored_port(Context& c) {
    for (;;) {
        if (stored_port_usable(c)) break;
        c.FOOERROR.writeln("Comport " + c.cfg.COMPORTNAME + " not available");
        c.screen.textcolor(YELLOW);
        c.screen.writeln(REMOVEUNDERLINEFROMSTRING(PROGRAM_VERSION));
        c.screen.textcolor(WHITE);
        c.screen.writeln();
        c.screen.writeln("Configuration file exists, but the specifified port " + c.cfg.COMPORTNAME +
                         " is NOT available");
        c.screen.writeln("Check if another program using it, e.g. Abel, if so close it");
        c.screen.writeln("Retry (R) or do completely new configuration (c) or Quit (Q)? (R/c/q)");
        char key = upper(WAITFORKEYSTROKEANDRETURNNORMALKEY(c));
        if (key == 'C') {
            c.core.GOTCONFIGFILE = false;
            break;
        }
        LISTCOMMPORT(c, c.serial.PORTSTOTAL, c.serial.PORTNAME);
    }
    c.screen.clrscr();
}

void find_target_window(Context& c) {
    while (FINDHANDLEFORTARGETWINDOW(c) == 'P') {
        FULLWINDOW(c);
        c.screen.clrscr();
        CHOOSEWINDOWTARGET(c);
        FULLWINDOW(c);
        c.screen.gotoxy(1, FIRSTLINEOFSCRATCHSCREEN);
        c.screen.write("Program " + c.cfg.TARGETPROGRAM + " selected");
    }
}

void key_send_test(Context& c) {
    if (!c.keyout.FINDINGANDGOINGTOWINDOW || c.cfg.TARGETPROGRAM != "NOT ACTIVATED  Ringing Room") return;
    c.screen.writeln("Key send test - one hand and back round");
    SLEEP(c, 3000);
    for (int i = 0; i <= 15; ++i) {
        SENDTEXT(c, std::string(1, static_cast<char>('1' + i % 8)));
        SLEEP(c, 300);
    }
    c.screen.writeln("Ending Key send test - hand and back rounds");
}

// The strike path decides; the screen regions and the run log hear what it
// decided, the screen first.
void wire_strike_path(Context& c) {
    c.strikes = std::make_unique<StrikePath>(c.cfg, c.keyout, c.timing, c.strike_report);
    c.strike_notices = std::make_unique<StrikeNotices>(c.screen);
    c.monitor = std::make_unique<MonitorRegion>(c.screen);
    c.big_counter = std::make_unique<BigCounter>(c.screen, c.con.FASTLINE);
    c.strike_log = std::make_unique<StrikeLog>(c.FOOERROR, c.serial);
    c.strike_report.add(*c.strike_notices);
    c.strike_report.add(*c.monitor);
    c.strike_report.add(*c.big_counter);
    c.strike_report.add(*c.strike_log);
}

}  // namespace

std::unique_ptr<Context> make_context(platform::Platform& p) {
    auto c = std::make_unique<Context>(p);
    wire_strike_path(*c);
    return c;
}

void startup(Context& c, const std::vector<std::string>& args) {
    c.cfg.SIGNALSMODE = false;
    c.cfg.BAGLEYMODE = false;
    auto opened = c.plat.console->open(Screen::ROWS, Screen::COLS);
    c.screen.attach(c.plat.console);
    STARTERRORLOG(c);
    if (!opened.ok()) c.FOOERROR.writeln("Console: " + opened.error());
    auto res = c.plat.threads->raise_timer_resolution();
    if (!res.ok()) c.FOOERROR.writeln("Timer resolution: " + res.error());
    prepare_console(c);
    report_desktop(c);
    LISTCOMMPORT(c, c.serial.PORTSTOTAL, c.serial.PORTNAME);
    SETUPFONT(c);
    STARTTHETIMER(c);
    c.core.TIMERON = true;
    log_timer_calibration(c);
    if (!args.empty() && args[0] == "/A") c.core.EASYMODE = false;

    c.core.FNAMEFI = PROGRAM_VERSION;
    c.core.GOTCONFIGFILE = READCONFIGFILE(c, c.core.FNAMEFI + ".ini");
    if (c.core.GOTCONFIGFILE) check_stored_port(c);
    if (!c.core.GOTCONFIGFILE) {
        WRITESTARTUPTEXT(c);
        CALIBRATE(c, true);
    }
    if (READCONFIGFILE(c, "bespoke.ini")) {
        c.screen.writeln("bespoke settings read");
        c.FOOERROR.writeln("bespoke settings read");
    }
    MYFLUSH(c);
    // Calibration leaves its port open; opening it again (exclusively) would
    // fail, so an open port only gets the service settings.
    if (!c.serial.SERIALTHREADON) {
        if (c.serial.SERIALHANDLE == 0)
            STARTSERIALPORT(c);
        else
            (void)set_service_settings(c, c.serial.SERIALHANDLE);
    }
    if (!c.cfg.BAGLEYMODE && !c.serial.SERIALTHREADON) start_serial_thread(c, c.serial.SERIALHANDLE);

    start_tower_link(c);
    find_target_window(c);
    c.FOOERROR.writeln(" the following calibration is assumed on entry to main cycle");
    WRITECURRENTCALIBRATIONTOSCREEN(c, c.FOOERROR);
    WRITEOTHERPROGRAMOPTIONS(c, c.FOOERROR);
    MYFLUSH(c);
    key_send_test(c);

    c.strikes->restart_cycle();
    c.strikes->rows().zero();
    show_service_screen(c);
    report_port_latency(c);
    c.strikes->keys().settle_all();
    c.autoring.ROWN = -6;
    prepare_service_loop(c);
}

void shutdown(Context& c) {
    close_serial_port(c, c.serial.SERIALHANDLE);
    c.serial.SERIALHANDLE = 0;
    STOPTHETIMER(c);
    c.core.TIMERON = false;
    MYFLUSH(c);
}

int quennick_main(Context& c, const std::vector<std::string>& args) {
    startup(c, args);
    while (!c.core.TERMINATEPROGRAM) main_loop_pass(c);
    shutdown(c);
    return 0;
}

}  // namespace qn
