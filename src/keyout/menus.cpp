// The configuration menu opened from service: default target, switch-bounce
// delay, and the keys and delays of any target table entry.
#include "keyout/menus.h"

#include <string>

#include "config/bounds.h"
#include "config/configfile.h"
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

}  // namespace

void ConfigurationMenu::write_menu() {
    Dialog& s = dialog_;
    s.clear(Area::LongScratch);
    s.colour(kYellow);
    s.write_line("Configuration Modification Options:");
    s.write_line("Press the emphasised [L]etter corresponding to the action, & X to finish");
    s.colour(kWhite);
    s.write_line("[P] Change default Program target");
    s.write_line("[B] Set Switch bounce delay ms, current value=" + str(settings_.switch_bounce_ms));
    s.write_line("[T] Change options for a target program");
    if (settings_.tower_id > 0)
        s.write_line(std::string("[A] Tower link: send rings Ahead by the network's delay, now ") +
                     (settings_.tower_send_ahead ? "ON" : "OFF"));
    s.write_line("[X] finish configurations");
}

// Reads numbers until one lies in lo..hi; one beyond is told the range.
std::int32_t ConfigurationMenu::read_number_in(std::int32_t lo, std::int32_t hi) {
    for (;;) {
        const std::int32_t n = dialog_.read_int();
        if (n >= lo && n <= hi) return n;
        dialog_.write_line("Give a number in " + str(lo) + ".." + str(hi));
    }
}

// A new value for a numeric setting, within its range (config/bounds.h):
// Enter keeps the value it has, a number beyond the range is asked for
// again, and Q quits.
std::int32_t ConfigurationMenu::read_setting(const char* key, std::int32_t current) {
    const SettingRange& r = *setting_range(key);
    const std::string range = range_text(settings_, r);
    const bool keepable = current >= r.lo && current <= range_top(settings_, r);
    const std::string keep = keepable ? ", Enter keeps " + str(current) : "";
    dialog_.write_line("(" + range + keep + ")");
    for (;;) {
        const std::string line = dialog_.read_line();
        if (keepable && line.find_first_not_of(' ') == std::string::npos) return current;
        std::int32_t v = 0;
        std::size_t bad = 0;
        if (parse_int32(line, &v, &bad) && v >= r.lo && v <= range_top(settings_, r)) return v;
        if (bad >= 1 && bad <= line.size() && upper(line[bad - 1]) == 'Q') dialog_.quit_on_key('Q');
        dialog_.write_line("Give a whole number in " + range + keep);
    }
}

void ConfigurationMenu::change_target_entry() {
    Dialog& s = dialog_;
    s.colour(kYellow);
    s.write_line("Which target program? - give number: (0.." + str(kMaxTargetPrograms) + ")");
    s.colour(kWhite);
    for (int i = 0; i <= kMaxTargetPrograms; ++i)
        s.write_line(option(i) + " " + target_name(target_, static_cast<std::uint8_t>(i)));
    // A number that names no entry is asked for again.
    const std::int32_t n = read_number_in(0, kMaxTargetPrograms);
    change_target_parameters(n);
    s.write_line("Selected program " + settings_.target_program);
}

void ConfigurationMenu::show_sensing_points(const TargetProgram& e) {
    Dialog& s = dialog_;
    if (e.sensors_active <= 1) {
        const SensingPoint& sp = e.points[0];
        s.write_line("Sensing point 1 ,[2] handstroke key=" + key_text(sp.hand_key) +
                  ",[3] & delay ms=" + str(sp.hand_delay_ms));
        s.write_line(",[4] backstroke key=" + key_text(sp.back_key) + ",[5] & delay ms=" + str(sp.back_delay_ms));
        return;
    }
    for (std::int32_t p = 1; p <= e.sensors_active && p <= kMaxSensors; ++p) {
        const SensingPoint& sp = e.points[static_cast<std::size_t>(p - 1)];
        const std::int32_t b = 5 * (p - 1);
        s.write_line(option(b + 1) + " Sensing point " + str(p) + "," + option(b + 2) + " handstroke key=" +
                  key_text(sp.hand_key) + "," + option(b + 3) + " & delay ms=" + str(sp.hand_delay_ms) + "," +
                  option(b + 4) + " backstroke key=" + key_text(sp.back_key) + "," + option(b + 5) +
                  " & delay ms=" + str(sp.back_delay_ms));
    }
}

void ConfigurationMenu::change_field(SensingPoint& sp, std::int32_t field) {
    Dialog& s = dialog_;
    switch (field) {
    case 1:
        s.colour(kYellow);
        // The sensor of the bell that sends the key: one of the bell's sensors.
        s.write_line("Input new sensing point to use (1.. " +
                  str(static_cast<std::int64_t>(range_top(settings_, *setting_range("whichsensor")))) + ")");
        sp.sensor = read_setting("whichsensor", sp.sensor);
        s.colour(kWhite);
        break;
    case 2:
        s.write_line("Input new handstroke key to send");
        sp.hand_key = dialog_.wait_key();
        break;
    case 3:
        s.write_line("Input new handstroke key delay (ms)");
        sp.hand_delay_ms = read_setting("keydelayhand", sp.hand_delay_ms);
        break;
    case 4:
        s.write_line("Input new backstroke key to send");
        sp.back_key = dialog_.wait_key();
        break;
    default:
        s.write_line("Input new backstroke key delay (ms)");
        sp.back_delay_ms = read_setting("keydelayback", sp.back_delay_ms);
        break;
    }
}

void ConfigurationMenu::change_target_parameters(std::int32_t entry) {
    if (!TargetTable::in_range(entry)) return;
    TargetProgram& e = target_.table()[entry];
    Dialog& s = dialog_;
    for (;;) {
        // Keys typed before the options are shown are dropped; one typed as
        // soon as they show is the answer.
        dialog_.flush_keys();
        s.write_line("Program target=" + e.name + " Active sensing points=" + str(e.sensors_active));
        show_sensing_points(e);
        s.write_line("Press number of option to change, or 0 (zero) to finish here");
        // Sixteen sensing points of five fields: a number past them is asked
        // for again.
        const std::int32_t n = read_number_in(0, 5 * kMaxSensors);
        if (n == 0) {
            (void)settings_file_.write(settings_, target_.table());
            return;
        }
        SensingPoint& sp = e.points[static_cast<std::size_t>((n - 1) / 5)];
        change_field(sp, (n - 1) % 5 + 1);
        s.write_line("Now sensing point=" + str(sp.sensor) + " handstrokekey=" + key_text(sp.hand_key) +
                  " & delay=" + str(sp.hand_delay_ms) + " backstrokekey=" + key_text(sp.back_key) +
                  " & delay=" + str(sp.back_delay_ms));
    }
}

void ConfigurationMenu::set_switch_bounce() {
    Dialog& s = dialog_;
    if (settings_.rest_on_mode) {
        s.write_line("Switchbouncedelay not adjustable for Bagley interface");
        return;
    }
    dialog_.flush_keys();
    s.write("To stop switch bounce, intervals below " + str(settings_.switch_bounce_ms) + "ms are ignored,");
    s.colour(kYellow);
    s.write(" change value? (y/N)");
    const char key = dialog_.wait_key();
    s.write_line();
    if (upper(key) == 'Y') {
        s.write_line("Enter new value integer>=0");
        settings_.switch_bounce_ms = read_setting("switchbouncedelay", settings_.switch_bounce_ms);
        s.colour(kWhite);
        report_.switch_bounce_chosen({settings_.switch_bounce_ms, true});
    } else {
        s.colour(kWhite);
        report_.switch_bounce_chosen({settings_.switch_bounce_ms, false});
    }
}

void ConfigurationMenu::run() {
    Dialog& s = dialog_;
    for (;;) {
        dialog_.flush_keys();  // before drawing, as above
        dialog_.clear(Area::LongScratch);
        write_menu();
        const char key = upper(dialog_.wait_key());
        if (key == 'X') {
            s.write_line("Finished");
            break;
        }
        switch (key) {
        case 'P':
            s.write_line("Modify Default program setting");
            choose_target(settings_, target_, windows_, dialog_, report_, tower_);
            (void)settings_file_.write(settings_, target_.table());
            break;
        case 'B':
            set_switch_bounce();
            (void)settings_file_.write(settings_, target_.table());
            break;
        case 'T':
            change_target_entry();
            break;
        case 'A':
            if (settings_.tower_id == 0) break;
            settings_.tower_send_ahead = !settings_.tower_send_ahead;
            (void)settings_file_.write(settings_, target_.table());
            break;
        case 'D':
            diagnostics_ = !diagnostics_;
            s.write_line(diagnostics_ ? "Diagnostics ON" : "Diagnostics OFF");
            break;
        case 'Q':
        case 27:
            dialog_.quit_on_key(key);  // ends the run
            break;
        default:
            break;
        }
    }
    s.clear(Area::LongScratch);
    s.select(Area::Full);
    report_.configuration_closed({});
}

}  // namespace qn
