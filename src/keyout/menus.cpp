// The configuration menu opened from service: default target, switch-bounce
// delay, and the keys and delays of any target table entry.
#include "keyout/menus.h"

#include <string>

#include "config/bounds.h"
#include "config/configfile.h"
#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"

namespace qn {

namespace {

std::string key_text(char k) { return std::string(1, k); }

// "[n]", built by appending: prepending a one-character literal to a
// temporary trips a false -Wrestrict in some GCC releases.
std::string option(std::int32_t n) {
    std::string r = "[";
    r += str(n);
    r += ']';
    return r;
}

void WRITECALIBMENU(Context& c) {
    Screen& s = c.screen;
    s.clrscr();
    s.textcolor(YELLOW);
    s.writeln("Configuration Modification Options:");
    s.writeln("Press the emphasised [L]etter corresponding to the action, & X to finish");
    s.textcolor(WHITE);
    s.writeln("[P] Change default Program target");
    s.writeln("[B] Set Switch bounce delay ms, current value=" + str(c.cfg.SWITCHBOUNCEDELAY));
    s.writeln("[T] Change options for a target program");
    s.writeln("[X] finish configurations");
}

// Reads numbers until one lies in lo..hi.
std::int32_t read_number_in(Context& c, std::int32_t lo, std::int32_t hi) {
    for (;;) {
        const std::int32_t n = READSTR2LONGINT(c);
        if (n >= lo && n <= hi) return n;
    }
}

// A new value for a numeric setting, within its range (config/bounds.h):
// Enter keeps the value it has, a number beyond the range is asked for
// again, and Q quits.
std::int32_t read_setting(Context& c, const char* key, std::int32_t current) {
    const SettingRange& r = *setting_range(key);
    const std::string range = range_text(c, r);
    const bool keepable = current >= r.lo && current <= range_top(c, r);
    const std::string keep = keepable ? ", Enter keeps " + str(current) : "";
    c.screen.writeln("(" + range + keep + ")");
    for (;;) {
        const std::string line = read_line(c);
        if (keepable && line.find_first_not_of(' ') == std::string::npos) return current;
        std::int32_t v = 0;
        std::size_t bad = 0;
        if (parse_int32(line, &v, &bad) && v >= r.lo && v <= range_top(c, r)) return v;
        if (bad >= 1 && bad <= line.size() && upper(line[bad - 1]) == 'Q') QTERMINATE(c, 'Q');
        c.screen.writeln("Give a whole number in " + range + keep);
    }
}

void change_target_entry(Context& c) {
    Screen& s = c.screen;
    s.textcolor(YELLOW);
    s.writeln("Which target program? - give number: (0.." + str(MAXTARGETPROGS) + ")");
    s.textcolor(WHITE);
    for (int i = 0; i <= MAXTARGETPROGS; ++i)
        s.writeln(option(i) + " " + CONVERTPROGRAMIDXTOPROGRAMNAME(c, static_cast<std::uint8_t>(i)));
    // A number that names no entry is asked for again.
    const std::int32_t n = read_number_in(c, 0, MAXTARGETPROGS);
    READANDCHANGECURRENTTARGETPROGRAMPARAMETERS(c, n);
    s.writeln("Selected program " + c.cfg.TARGETPROGRAM);
}

void show_sensing_points(Context& c, const TARGETPROGRAMARRTYPE& e) {
    Screen& s = c.screen;
    if (e.TSENSORSACTIVE <= 1) {
        const SensingPoint& sp = e.TWHICHSENSORARR[1];
        s.writeln("Sensing point 1 ,[2] handstroke key=" + key_text(sp.WKEYHAND) +
                  ",[3] & delay ms=" + str(sp.WDELAYHAND));
        s.writeln(",[4] backstroke key=" + key_text(sp.WKEYBACK) + ",[5] & delay ms=" + str(sp.WDELAYBACK));
        return;
    }
    for (std::int32_t p = 1; p <= e.TSENSORSACTIVE && p <= MAXSENSORS; ++p) {
        const SensingPoint& sp = e.TWHICHSENSORARR[p];
        const std::int32_t b = 5 * (p - 1);
        s.writeln(option(b + 1) + " Sensing point " + str(p) + "," + option(b + 2) + " handstroke key=" +
                  key_text(sp.WKEYHAND) + "," + option(b + 3) + " & delay ms=" + str(sp.WDELAYHAND) + "," +
                  option(b + 4) + " backstroke key=" + key_text(sp.WKEYBACK) + "," + option(b + 5) +
                  " & delay ms=" + str(sp.WDELAYBACK));
    }
}

void change_field(Context& c, SensingPoint& sp, std::int32_t field) {
    Screen& s = c.screen;
    switch (field) {
    case 1:
        s.textcolor(YELLOW);
        // The sensor of the bell that sends the key: one of the bell's sensors.
        s.writeln("Input new sensing point to use (1.. " +
                  str(static_cast<std::int64_t>(range_top(c, *setting_range("whichsensor")))) + ")");
        sp.WSNUM = read_setting(c, "whichsensor", sp.WSNUM);
        s.textcolor(WHITE);
        break;
    case 2:
        s.writeln("Input new handstroke key to send");
        sp.WKEYHAND = WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
        break;
    case 3:
        s.writeln("Input new handstroke key delay (ms)");
        sp.WDELAYHAND = read_setting(c, "keydelayhand", sp.WDELAYHAND);
        break;
    case 4:
        s.writeln("Input new backstroke key to send");
        sp.WKEYBACK = WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
        break;
    default:
        s.writeln("Input new backstroke key delay (ms)");
        sp.WDELAYBACK = read_setting(c, "keydelayback", sp.WDELAYBACK);
        break;
    }
}

}  // namespace

void READANDCHANGECURRENTTARGETPROGRAMPARAMETERS(Context& c, std::int32_t progToChangeIdx) {
    if (!c.keyout.TARGETPROGRAMARR.in_range(progToChangeIdx)) return;
    TARGETPROGRAMARRTYPE& e = c.keyout.TARGETPROGRAMARR[progToChangeIdx];
    Screen& s = c.screen;
    for (;;) {
        s.writeln("Program target=" + e.TTARGETPROGRAM + " Active sensing points=" + str(e.TSENSORSACTIVE));
        show_sensing_points(c, e);
        CLEARKEYBUFFER(c);
        s.writeln("Press number of option to change, or 0 (zero) to finish here");
        // Sixteen sensing points of five fields: a number past them is asked
        // for again.
        const std::int32_t n = read_number_in(c, 0, 5 * MAXSENSORS);
        if (n == 0) {
            (void)WRITECONFIGFILE(c);
            return;
        }
        SensingPoint& sp = e.TWHICHSENSORARR[(n - 1) / 5 + 1];
        change_field(c, sp, (n - 1) % 5 + 1);
        s.writeln("Now sensing point=" + str(sp.WSNUM) + " handstrokekey=" + key_text(sp.WKEYHAND) +
                  " & delay=" + str(sp.WDELAYHAND) + " backstrokekey=" + key_text(sp.WKEYBACK) +
                  " & delay=" + str(sp.WDELAYBACK));
    }
}

void SETSWITCHBOUNCEDELAY(Context& c) {
    Screen& s = c.screen;
    if (c.cfg.BAGLEYMODE) {
        s.writeln("Switchbouncedelay not adjustable for Bagley interface");
        return;
    }
    CLEARKEYBUFFER(c);
    s.write("To stop switch bounce, intervals below " + str(c.cfg.SWITCHBOUNCEDELAY) + "ms are ignored,");
    s.textcolor(YELLOW);
    s.write(" change value? (y/N)");
    const char key = WAITFORKEYSTROKEANDRETURNNORMALKEY(c);
    s.writeln();
    if (upper(key) == 'Y') {
        s.writeln("Enter new value integer>=0");
        c.cfg.SWITCHBOUNCEDELAY = read_setting(c, "switchbouncedelay", c.cfg.SWITCHBOUNCEDELAY);
        s.textcolor(WHITE);
        c.FOOERROR.writeln("Switch calibration changes to " + str(c.cfg.SWITCHBOUNCEDELAY));
    } else {
        s.textcolor(WHITE);
        c.FOOERROR.writeln("Switch calibration remains as " + str(c.cfg.SWITCHBOUNCEDELAY));
    }
}

void MODIFYCONFIGURATION(Context& c) {
    Screen& s = c.screen;
    for (;;) {
        LONGSCRATCHWINDOWCLS(c);
        WRITECALIBMENU(c);
        CLEARKEYBUFFER(c);
        const char key = upper(WAITFORKEYSTROKEANDRETURNNORMALKEY(c));
        if (key == 'X') {
            s.writeln("Finished");
            break;
        }
        switch (key) {
        case 'P':
            s.writeln("Modify Default program setting");
            CHOOSEWINDOWTARGET(c);
            (void)WRITECONFIGFILE(c);
            break;
        case 'B':
            SETSWITCHBOUNCEDELAY(c);
            (void)WRITECONFIGFILE(c);
            break;
        case 'T':
            change_target_entry(c);
            break;
        case 'D':
            c.keyout.DIAGNOSTICS = !c.keyout.DIAGNOSTICS;
            s.writeln(c.keyout.DIAGNOSTICS ? "Diagnostics ON" : "Diagnostics OFF");
            break;
        case 'Q':
        case 27:
            c.core.TERMINATEPROGRAM = true;
            QTERMINATE(c, key);
            break;
        default:
            break;
        }
    }
    s.clrscr();
    FULLWINDOW(c);
    c.con.REPAINTBIGNUMBERWINDOW = true;
}

}  // namespace qn
