#include "console/calibsummary.h"

#include "config/settings.h"
#include "core/text.h"
#include "core/text_sink.h"
#include "config/current_target.h"

namespace qn {

void write_current_calibration(TextSink& out, const Settings& cfg, const CurrentTarget& k, bool easy_mode) {
    out.write_line("Current calibration: Bell Sensor parameters - Total sensing points=" + str(cfg.sensor_count));
    out.write("Using port " + cfg.port_name + " using ");
    if (cfg.rest_on_mode) {
        out.write("(Bagley) DATA, using input character " + std::string(1, cfg.data_char));
    } else {
        for (ModemLine l : kModemLines)
            if (cfg.use_line[l]) out.write(std::string(line_name(l)) + " ");
        if (!easy_mode)
            out.write_line("switch bounce delay (ms)=" + str(cfg.switch_bounce_ms) + " sleep value=" + str(cfg.loop_sleep_ms));
    }
    out.write_line(" Total signals=" + str(cfg.signal_count) + " for hand/backstroke pair");
    std::int32_t n = cfg.signal_count < kMaxCalibrationEvents ? cfg.signal_count : kMaxCalibrationEvents;
    for (std::int32_t i = 1; i <= n; ++i) {
        const CalibrationResult& r = cfg.results[i - 1];
        std::string line = "Signal time=" + fixed_text(r.signal_time_s, 7, 4) + " signalgap=" + fixed_text(r.signal_gap_s, 7, 4);
        if (r.sensor_gap_s == 0 && i > 1)
            line += " SIGNAL_IGNORED";
        else
            line += " sensorgap=" + fixed_text(r.sensor_gap_s, 7, 4);
        if (i % 2 == 0 && r.sensor_gap_s > 0 && r.sensor_gap_s < 0.04) line += " WARNING<40ms may FAIL";
        out.write_line(line);
    }
    if (cfg.target_program == "Open")
        out.write_line("Currently Open - Send keys to any foreground window: Active sensing points=" + str(k.sensors_active()));
    else
        out.write_line("Currently send keys to " + cfg.target_program + " window: Active sensing points=" +
                    str(k.sensors_active()));
    for (std::int32_t i = 0; i < k.sensors_active() && i < kMaxSensors; ++i) {
        const SensingPoint& p = k.point(i);
        out.write_line("Sensing point=" + str(p.sensor) + " handstroke:key=" + std::string(1, p.hand_key) +
                    " delay=" + str(p.hand_delay_ms) + " backstroke:key=" + std::string(1, p.back_key) +
                    " delay=" + str(p.back_delay_ms));
    }
}

}  // namespace qn
