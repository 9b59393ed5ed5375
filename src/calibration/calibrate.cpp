// A complete calibration: port, mode and sensors, default settings and key
// assignments, the user's target, and the new settings file.
#include "calibration/calibrate.h"

#include "calibration/ports_check.h"
#include "config/configfile.h"
#include "core/context.h"
#include "core/text_sink.h"
#include "core/timing.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"
#include "serial/sensing.h"

namespace qn {

namespace {

void write_heading(TextSink& f) { f.write_line("Doing  complete basic calibration: details can be adjusted later"); }

}  // namespace

std::int64_t ProgramCalibrationHost::now_us() { return c_.clock.elapsed_us(); }
std::int64_t ProgramCalibrationHost::now_ms() { return c_.clock.elapsed_ms(); }
void ProgramCalibrationHost::wait_ms(std::int32_t ms, std::uint32_t sources) { c_.clock.wait_ms(ms, sources); }

bool ProgramCalibrationHost::key_waiting() {
    c_.dialog.show();
    return c_.plat.console->key_waiting();
}

bool ProgramCalibrationHost::keyboard_closed() { return c_.plat.console->input_ended(); }

void ProgramCalibrationHost::start_serial_thread(PortHandle h, const PerModemLine<bool>& lines) {
    qn::start_serial_thread(c_, h, lines);
}

void ProgramCalibrationHost::reset_event_ring() { reset_serial_thread(c_); }

ProgramCalibration::ProgramCalibration(Context& c)
    : host(c), calibration{c.dialog, c.run_log, c.cfg, c.ports, c.event_ring, host, c.core.easy_mode, {}} {}

// Every calibration is a complete one; the flag says so at the call.
void calibrate(Context& c, bool /*full*/) {
    write_heading(c.screen);
    write_heading(c.run_log);
    c.cfg.rest_on_mode = false;
    c.cfg.signals_mode = false;

    // Every failure in here ends the program, so nothing below is reached
    // and an existing settings file stays as it was.
    {
        auto run = std::make_unique<ProgramCalibration>(c);
        set_up_serial_ports(run->calibration);
    }

    c.cfg.big_numbers = false;
    c.cfg.loop_sleep_ms = kDefaultLoopSleepMs;
    c.cfg.switch_bounce_ms = kDefaultSwitchBounceMs;
    set_target_defaults(c.target, c.cfg.sensor_count);
    // Handbells ring without delays: the settings file is written with zero
    // delays, and this session must ring the same way as the next one.
    if (c.cfg.handbells)
        for (int i = 0; i <= kMaxTargetPrograms; ++i)
            for (SensingPoint& p : c.target.table()[i].points) {
                p.hand_delay_ms = 0;
                p.back_delay_ms = 0;
            }
    choose_target(c.cfg, c.target, *c.plat.windows, c.dialog, c.delivery_report, *c.tower_ring);
    (void)c.settings_file->write(c.cfg, c.target.table());  // reports its own failure; the settings stay in memory
}

}  // namespace qn
