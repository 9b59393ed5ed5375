// A complete calibration: port, mode and sensors, default settings and key
// assignments, the user's target, and the new settings file.
#include "service/calibrate.h"

#include <memory>

#include "calibration/calibration.h"
#include "config/configfile.h"
#include "service/program.h"
#include "core/text_sink.h"
#include "core/timing.h"
#include "keyout/keysending.h"
#include "keyout/targets.h"

namespace qn {

namespace {

void write_heading(TextSink& f) { f.write_line("Doing  complete basic calibration: details can be adjusted later"); }

}  // namespace

// Every calibration is a complete one; the flag says so at the call.
void calibrate(Program& c, bool /*full*/) {
    write_heading(c.screen);
    write_heading(c.run_log);
    c.cfg.rest_on_mode = false;
    c.cfg.signals_mode = false;

    // Every failure in here ends the program, so nothing below is reached
    // and an existing settings file stays as it was.
    {
        auto run = std::make_unique<Calibration>(c.cfg, c.ports, c.sensing, c.clock, c.dialog, c.run_log,
                                                 *c.plat.console, c.core.easy_mode);
        run->set_up_serial_ports();
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
