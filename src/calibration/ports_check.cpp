// The port survey at the start of a calibration, and the choice of the one
// port the bell was found on.
#include "calibration/ports_check.h"

#include <algorithm>
#include <string>

#include "calibration/calibration.h"
#include "calibration/detection.h"
#include "core/text.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

char* charbuff(Calibration& c) { return &c.calib.chars[1]; }

void clear_charbuff(Calibration& c) { c.calib.chars.fill('\0'); }

// A port the survey cannot use is closed again and left out; the others
// are surveyed as usual.
void leave_out(Calibration& c, std::int32_t i, const std::string& why) {
    c.ports.close_handle(i - 1);
    c.dialog.write_line(str(i) + " " + c.cfg.port_name + " not useable - " + why);
    c.log.write_line(str(i) + " " + c.cfg.port_name + " not useable - " + why);
    c.log.flush();
}

// Opens port i, sets it up for the sensors and notes its line states.
// Returns false when the port is not usable.
bool survey_port(Calibration& c, std::int32_t i) {
    CalibrationState& k = c.calib;
    c.cfg.port_name = c.ports.system().device_name(c.ports.name(i - 1));
    k.lines_unreadable[i] = false;
    c.ports.set_handle(i - 1, c.ports.open(c.cfg.port_name));
    const PortHandle h = c.ports.handle(i - 1);
    if (h == 0) return false;

    c.log.write_line(str(i) + " " + c.cfg.port_name + " found and serviceable");
    c.log.flush();
    (void)c.ports.set_service_settings(h, c.cfg.port_name);  // reports its own failures to the log

    // Some virtual and Bluetooth ports, and a pty under Wine, open but refuse
    // the modem status: no bell can be found on their lines, but an
    // interface box on the data line needs none.
    auto word = c.ports.system().modem_status(h);
    k.lines_unreadable[i] = !word.ok();
    if (!word.ok()) {
        c.log.write_line(word.error());
        const std::string s =
            str(i) + " " + c.cfg.port_name + " serviceable for data only - its modem lines cannot be read";
        c.dialog.write_line(s);
        c.log.write_line(s);
    } else {
        k.was_on[i] = lines_on(word.value());
        const PerModemLine<bool>& on = k.was_on[i];
        const bool all_off = on == PerModemLine<bool>{};
        c.dialog.write(str(i) + " " + c.cfg.port_name + " serviceable");
        c.dialog.write_line(std::string(" CTS=") + line_char(on[ModemLine::Cts]) + " DSR=" + line_char(on[ModemLine::Dsr]) +
                         " CD=" + line_char(on[ModemLine::Cd]) + " RI=" + line_char(on[ModemLine::Ri]) +
                         " All=F =>OK to use=" + line_char(all_off));
    }

    // A device that keeps sending (a GPS, another interface) owns the port.
    zero_rest_on_port(c, i);
    c.log.write_line("check if data already streaming on this port");
    c.dialog.pause_ms(300);
    if (c.ports.read_char(h, charbuff(c), c.calib.read_timeout_ms) > 0) {
        zero_rest_on_port(c, i);
        leave_out(c, i, "data already streaming on it");
        return false;
    }
    return true;
}

}  // namespace

void check_available_ports(Calibration& c) {
    std::int32_t usable = 0;
    const std::int32_t total = std::min<std::int32_t>(c.ports.count(), kMaxSerialPorts);
    for (std::int32_t i = 1; i <= total; ++i)
        if (survey_port(c, i)) ++usable;

    if (usable == 0) {
        c.dialog.write_line("No useable ports found - ");
        c.dialog.write_line("Recheck COM ports and that other programs are not using the port");
        c.dialog.write_line("Press Q to Quit");
        (void)c.dialog.wait_key();
        c.dialog.quit_on_key('Q');
    }
    c.dialog.colour(kYellow);
    c.dialog.write_line("Make sure sensor is not active (ON) when you start the calibration tests");
    c.dialog.colour(kWhite);
}

void zero_rest_on_port(Calibration& c, std::int32_t port) {
    const PortHandle h = c.ports.handle(port - 1);
    std::int32_t got = 0;
    do {
        clear_charbuff(c);
        got = h != 0 ? c.ports.read_char(h, charbuff(c), c.calib.read_timeout_ms) : 0;
        c.calib.char_counts[port] = 0;
    } while (got > 0);
    clear_charbuff(c);
}

void set_up_serial_ports(Calibration& c) {
    SensorPorts& s = c.ports;
    CalibrationState& k = c.calib;
    c.dialog.write_line("Checking possible serial ports...");
    check_available_ports(c);
    calibrate_sensors(c, k.current_port);

    const std::int32_t p = k.current_port;
    s.set_service(s.handle(p - 1));
    const std::int32_t total = std::min<std::int32_t>(s.count(), kMaxSerialPorts);
    for (std::int32_t i = 1; i <= total; ++i) {
        if (i == p || s.handle(i - 1) == 0) continue;
        s.close_handle(i - 1);
    }
    c.cfg.port_name = c.ports.system().device_name(s.name(p - 1));
    c.cfg.use_line = k.use_line[p];
    if (c.cfg.rest_on_mode) c.cfg.rest_on_mode = k.use_data[p];
}

}  // namespace qn
