// The configuration menu opened from service: default target, switch-bounce
// delay, and the keys and delays of any target table entry.
#include "keyout/menus.h"

#include <string>

#include "config/bounds.h"
#include "config/configfile.h"
#include "console/console_ui.h"
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

void write_calibration_menu(Context& c) {
    Screen& s = c.screen;
    s.clear_window();
    s.text_colour(kYellow);
    s.write_line("Configuration Modification Options:");
    s.write_line("Press the emphasised [L]etter corresponding to the action, & X to finish");
    s.text_colour(kWhite);
    s.write_line("[P] Change default Program target");
    s.write_line("[B] Set Switch bounce delay ms, current value=" + str(c.cfg.switch_bounce_ms));
    s.write_line("[T] Change options for a target program");
    s.write_line("[X] finish configurations");
}

// Reads numbers until one lies in lo..hi.
std::int32_t read_number_in(Context& c, std::int32_t lo, std::int32_t hi) {
    for (;;) {
        const std::int32_t n = read_int(c);
        if (n >= lo && n <= hi) return n;
    }
}

// A new value for a numeric setting, within its range (config/bounds.h):
// Enter keeps the value it has, a number beyond the range is asked for
// again, and Q quits.
std::int32_t read_setting(Context& c, const char* key, std::int32_t current) {
    const SettingRange& r = *setting_range(key);
    const std::string range = range_text(c.cfg, r);
    const bool keepable = current >= r.lo && current <= range_top(c.cfg, r);
    const std::string keep = keepable ? ", Enter keeps " + str(current) : "";
    c.screen.write_line("(" + range + keep + ")");
    for (;;) {
        const std::string line = read_line(c);
        if (keepable && line.find_first_not_of(' ') == std::string::npos) return current;
        std::int32_t v = 0;
        std::size_t bad = 0;
        if (parse_int32(line, &v, &bad) && v >= r.lo && v <= range_top(c.cfg, r)) return v;
        if (bad >= 1 && bad <= line.size() && upper(line[bad - 1]) == 'Q') quit_on_key(c, 'Q');
        c.screen.write_line("Give a whole number in " + range + keep);
    }
}

void change_target_entry(Context& c) {
    Screen& s = c.screen;
    s.text_colour(kYellow);
    s.write_line("Which target program? - give number: (0.." + str(kMaxTargetPrograms) + ")");
    s.text_colour(kWhite);
    for (int i = 0; i <= kMaxTargetPrograms; ++i)
        s.write_line(option(i) + " " + target_name(c, static_cast<std::uint8_t>(i)));
    // A number that names no entry is asked for again.
    const std::int32_t n = read_number_in(c, 0, kMaxTargetPrograms);
    change_target_parameters(c, n);
    s.write_line("Selected program " + c.cfg.target_program);
}

void show_sensing_points(Context& c, const TargetProgram& e) {
    Screen& s = c.screen;
    if (e.sensors_active <= 1) {
        const SensingPoint& sp = e.points[1];
        s.write_line("Sensing point 1 ,[2] handstroke key=" + key_text(sp.hand_key) +
                  ",[3] & delay ms=" + str(sp.hand_delay_ms));
        s.write_line(",[4] backstroke key=" + key_text(sp.back_key) + ",[5] & delay ms=" + str(sp.back_delay_ms));
        return;
    }
    for (std::int32_t p = 1; p <= e.sensors_active && p <= kMaxSensors; ++p) {
        const SensingPoint& sp = e.points[p];
        const std::int32_t b = 5 * (p - 1);
        s.write_line(option(b + 1) + " Sensing point " + str(p) + "," + option(b + 2) + " handstroke key=" +
                  key_text(sp.hand_key) + "," + option(b + 3) + " & delay ms=" + str(sp.hand_delay_ms) + "," +
                  option(b + 4) + " backstroke key=" + key_text(sp.back_key) + "," + option(b + 5) +
                  " & delay ms=" + str(sp.back_delay_ms));
    }
}

void change_field(Context& c, SensingPoint& sp, std::int32_t field) {
    Screen& s = c.screen;
    switch (field) {
    case 1:
        s.text_colour(kYellow);
        // The sensor of the bell that sends the key: one of the bell's sensors.
        s.write_line("Input new sensing point to use (1.. " +
                  str(static_cast<std::int64_t>(range_top(c.cfg, *setting_range("whichsensor")))) + ")");
        sp.sensor = read_setting(c, "whichsensor", sp.sensor);
        s.text_colour(kWhite);
        break;
    case 2:
        s.write_line("Input new handstroke key to send");
        sp.hand_key = wait_for_key_char(c);
        break;
    case 3:
        s.write_line("Input new handstroke key delay (ms)");
        sp.hand_delay_ms = read_setting(c, "keydelayhand", sp.hand_delay_ms);
        break;
    case 4:
        s.write_line("Input new backstroke key to send");
        sp.back_key = wait_for_key_char(c);
        break;
    default:
        s.write_line("Input new backstroke key delay (ms)");
        sp.back_delay_ms = read_setting(c, "keydelayback", sp.back_delay_ms);
        break;
    }
}

}  // namespace

void change_target_parameters(Context& c, std::int32_t target) {
    if (!c.keyout.targets.in_range(target)) return;
    TargetProgram& e = c.keyout.targets[target];
    Screen& s = c.screen;
    for (;;) {
        // Keys typed before the options are shown are dropped; one typed as
        // soon as they show is the answer.
        flush_console_keys(c);
        s.write_line("Program target=" + e.name + " Active sensing points=" + str(e.sensors_active));
        show_sensing_points(c, e);
        s.write_line("Press number of option to change, or 0 (zero) to finish here");
        // Sixteen sensing points of five fields: a number past them is asked
        // for again.
        const std::int32_t n = read_number_in(c, 0, 5 * kMaxSensors);
        if (n == 0) {
            (void)c.settings_file->write(c.cfg, c.keyout.targets);
            return;
        }
        SensingPoint& sp = e.points[(n - 1) / 5 + 1];
        change_field(c, sp, (n - 1) % 5 + 1);
        s.write_line("Now sensing point=" + str(sp.sensor) + " handstrokekey=" + key_text(sp.hand_key) +
                  " & delay=" + str(sp.hand_delay_ms) + " backstrokekey=" + key_text(sp.back_key) +
                  " & delay=" + str(sp.back_delay_ms));
    }
}

void set_switch_bounce(Context& c) {
    Screen& s = c.screen;
    if (c.cfg.rest_on_mode) {
        s.write_line("Switchbouncedelay not adjustable for Bagley interface");
        return;
    }
    flush_console_keys(c);
    s.write("To stop switch bounce, intervals below " + str(c.cfg.switch_bounce_ms) + "ms are ignored,");
    s.text_colour(kYellow);
    s.write(" change value? (y/N)");
    const char key = wait_for_key_char(c);
    s.write_line();
    if (upper(key) == 'Y') {
        s.write_line("Enter new value integer>=0");
        c.cfg.switch_bounce_ms = read_setting(c, "switchbouncedelay", c.cfg.switch_bounce_ms);
        s.text_colour(kWhite);
        c.run_log.write_line("Switch calibration changes to " + str(c.cfg.switch_bounce_ms));
    } else {
        s.text_colour(kWhite);
        c.run_log.write_line("Switch calibration remains as " + str(c.cfg.switch_bounce_ms));
    }
}

void modify_configuration(Context& c) {
    Screen& s = c.screen;
    for (;;) {
        flush_console_keys(c);  // before drawing, as above
        clear_long_scratch_window(c);
        write_calibration_menu(c);
        const char key = upper(wait_for_key_char(c));
        if (key == 'X') {
            s.write_line("Finished");
            break;
        }
        switch (key) {
        case 'P':
            s.write_line("Modify Default program setting");
            choose_target(c);
            (void)c.settings_file->write(c.cfg, c.keyout.targets);
            break;
        case 'B':
            set_switch_bounce(c);
            (void)c.settings_file->write(c.cfg, c.keyout.targets);
            break;
        case 'T':
            change_target_entry(c);
            break;
        case 'D':
            c.keyout.diagnostics = !c.keyout.diagnostics;
            s.write_line(c.keyout.diagnostics ? "Diagnostics ON" : "Diagnostics OFF");
            break;
        case 'Q':
        case 27:
            c.core.terminate = true;
            quit_on_key(c, key);
            break;
        default:
            break;
        }
    }
    s.clear_window();
    full_window(c);
    c.con.big_number_stale = true;
}

}  // namespace qn
