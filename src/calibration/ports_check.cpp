// The port survey at the start of a calibration, and the choice of the one
// port the bell was found on.
#include "calibration/calibration.h"

#include <algorithm>
#include <string>

#include "core/text.h"
#include "core/modem_line.h"

namespace qn {

// A port the survey cannot use is closed again and left out; the others
// are surveyed as usual.
void Calibration::leave_out(std::int32_t i, const std::string& why) {
    ports_.close_handle(i);
    dialog_.write_line(str(i + 1) + " " + cfg_.port_name + " not useable - " + why);
    log_.write_line(str(i + 1) + " " + cfg_.port_name + " not useable - " + why);
    log_.flush();
}

// Opens port i, sets it up for the sensors and notes its line states.
// Returns false when the port is not usable.
bool Calibration::survey_port(std::int32_t i) {
    cfg_.port_name = ports_.system().device_name(ports_.name(i));
    lines_unreadable_[at(i)] = false;
    ports_.set_handle(i, ports_.open(cfg_.port_name));
    const PortHandle h = ports_.handle(i);
    if (h == 0) return false;

    log_.write_line(str(i + 1) + " " + cfg_.port_name + " found and serviceable");
    log_.flush();
    (void)ports_.set_service_settings(h, cfg_.port_name);  // reports its own failures to the log

    // Some virtual and Bluetooth ports, and a pty under Wine, open but refuse
    // the modem status: no bell can be found on their lines, but an
    // interface box on the data line needs none.
    auto word = ports_.system().modem_status(h);
    lines_unreadable_[at(i)] = !word.ok();
    if (!word.ok()) {
        log_.write_line(word.error());
        const std::string s =
            str(i + 1) + " " + cfg_.port_name + " serviceable for data only - its modem lines cannot be read";
        dialog_.write_line(s);
        log_.write_line(s);
    } else {
        was_on_[at(i)] = lines_on(word.value());
        const PerModemLine<bool>& on = was_on_[at(i)];
        const bool all_off = on == PerModemLine<bool>{};
        dialog_.write(str(i + 1) + " " + cfg_.port_name + " serviceable");
        dialog_.write_line(std::string(" CTS=") + line_char(on[ModemLine::Cts]) + " DSR=" + line_char(on[ModemLine::Dsr]) +
                         " CD=" + line_char(on[ModemLine::Cd]) + " RI=" + line_char(on[ModemLine::Ri]) +
                         " All=F =>OK to use=" + line_char(all_off));
    }

    // A device that keeps sending (a GPS, another interface) owns the port.
    zero_rest_on_port(i);
    log_.write_line("check if data already streaming on this port");
    dialog_.pause_ms(300);
    if (ports_.read_char(h, chars(), read_timeout_ms_) > 0) {
        zero_rest_on_port(i);
        leave_out(i, "data already streaming on it");
        return false;
    }
    return true;
}

void Calibration::check_available_ports() {
    std::int32_t usable = 0;
    const std::int32_t total = port_count();
    for (std::int32_t i = 0; i < total; ++i)
        if (survey_port(i)) ++usable;

    if (usable == 0) {
        dialog_.write_line("No useable ports found - ");
        dialog_.write_line("Recheck COM ports and that other programs are not using the port");
        dialog_.write_line("Press Q to Quit");
        (void)dialog_.wait_key();
        dialog_.quit_on_key('Q');
    }
    dialog_.colour(kYellow);
    dialog_.write_line("Make sure sensor is not active (ON) when you start the calibration tests");
    dialog_.colour(kWhite);
}

void Calibration::zero_rest_on_port(std::int32_t port) {
    const PortHandle h = ports_.handle(port);
    std::int32_t got = 0;
    do {
        clear_chars();
        got = h != 0 ? ports_.read_char(h, chars(), read_timeout_ms_) : 0;
    } while (got > 0);
    clear_chars();
}

void Calibration::set_up_serial_ports() {
    SensorPorts& s = ports_;
    dialog_.write_line("Checking possible serial ports...");
    check_available_ports();
    calibrate_sensors();

    const std::int32_t p = port_index_;
    s.set_service(s.handle(p));
    const std::int32_t total = port_count();
    for (std::int32_t i = 0; i < total; ++i) {
        if (i == p || s.handle(i) == 0) continue;
        s.close_handle(i);
    }
    cfg_.port_name = ports_.system().device_name(s.name(p));
    cfg_.use_line = use_line_[at(p)];
    if (cfg_.rest_on_mode) cfg_.rest_on_mode = use_data_[at(p)];
}

}  // namespace qn
