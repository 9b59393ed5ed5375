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
void calibrate(Program& program, bool /*full*/) {
    write_heading(program.screen);
    write_heading(program.run_log);
    program.cfg.rest_on_mode = false;
    program.cfg.signals_mode = false;

    // Every failure in here ends the program, so nothing below is reached
    // and an existing settings file stays as it was.
    {
        auto run = std::make_unique<Calibration>(program.cfg, program.ports, program.sensing, program.clock, program.dialog, program.run_log,
                                                 *program.plat.console, program.core.easy_mode);
        run->set_up_serial_ports();
    }

    program.cfg.big_numbers = false;
    program.cfg.loop_sleep_ms = kDefaultLoopSleepMs;
    program.cfg.switch_bounce_ms = kDefaultSwitchBounceMs;
    set_target_defaults(program.target, program.cfg.sensor_count);
    // Handbells ring without delays: the settings file is written with zero
    // delays, and this session must ring the same way as the next one.
    if (program.cfg.handbells)
        for (int i = 0; i <= kMaxTargetPrograms; ++i)
            for (SensingPoint& p : program.target.table()[i].points) {
                p.hand_delay_ms = 0;
                p.back_delay_ms = 0;
            }
    choose_target(program.cfg, program.target, *program.plat.windows, program.dialog, program.delivery_report, *program.tower_ring);
    (void)program.settings_file->write(program.cfg, program.target.table());  // reports its own failure; the settings stay in memory
}

}  // namespace qn
