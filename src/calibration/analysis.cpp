// The calibration analysis: intervals of the recorded events with switch
// bounce folded out, the calibration result, and the per-event reports.
#include "calibration/analysis.h"

#include <algorithm>
#include <array>
#include <string>

#include "calibration/calibration.h"
#include "core/text.h"
#include "core/text_sink.h"
#include "strokes/outputs.h"

namespace qn {

namespace {

// What the analysis works with besides the program's tables: which events
// are used, and the longest signal and gap the signal report found.
struct Analysis {
    std::int32_t p = 0;
    std::int32_t N = 0;
    Arr<bool, 1, kMaxCalibrationEvents> use_datum;
    double kMaxSignalLength = 0;
    double kMaxSignalGap = 0;
    bool gap_measured = false;  // a used gap between two signals (odd event from 3 on)
};

std::string secs(double v) { return fixed_text(v, 7, 4); }

std::int64_t event_time(const Calibration& c, std::int32_t p, std::int32_t J) { return c.calib.event_us[p][J]; }

// Raw intervals J := time of J less time of the one before (0 for the first).
void compute_intervals(Calibration& c, Analysis& a) {
    CalibrationState& k = c.calib;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        const std::int64_t before = event_time(c, a.p, std::max(J - 1, 1));
        k.interval_us[J] = static_cast<double>(event_time(c, a.p, J) - before) / 1000000.0;
        k.adjusted_interval_us[J] = k.interval_us[J];
    }
}

// Data mode: a character too soon after the one before is a bounce or a
// doubled character; its interval goes to the next good event.
void fold_data_bounces(Calibration& c, Analysis& a, double B) {
    CalibrationState& k = c.calib;
    for (std::int32_t J = 2; J <= a.N; ++J) {
        if (k.interval_us[J] >= B) continue;
        a.use_datum[J] = false;
        k.good_signals -= 1;
        if (J < a.N) k.adjusted_interval_us[J + 1] = k.adjusted_interval_us[J] + k.adjusted_interval_us[J + 1];
        k.adjusted_interval_us[J] = 0;
    }
}

// Signals mode: odd events switch the sensor on. A gap too short to be real
// joins the two signals around it into one.
void fold_signal_bounces(Calibration& c, Analysis& a, double B) {
    CalibrationState& k = c.calib;
    for (std::int32_t J = 3; J <= a.N; J += 2) {
        if (k.interval_us[J] >= B) continue;
        a.use_datum[J - 1] = false;
        a.use_datum[J] = false;
        k.good_signals -= 2;
        if (J < a.N)
            k.adjusted_interval_us[J + 1] =
                k.adjusted_interval_us[J - 1] + k.adjusted_interval_us[J] + k.adjusted_interval_us[J + 1];
        k.adjusted_interval_us[J] = 0;
        k.adjusted_interval_us[J - 1] = 0;
    }
}

void store_result(Calibration& c, const Analysis& a) {
    const std::int64_t first = a.N >= 1 ? event_time(c, a.p, 1) : 0;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        CalibrationResult& r = c.cfg.results[J];
        r.signal_ms = static_cast<double>(event_time(c, a.p, J) - first) / 1000000.0;
        r.signal_gap_ms = c.calib.interval_us[J];
        r.sensor_gap_ms = c.calib.adjusted_interval_us[J];
    }
}

void write_data_result(Calibration& c, const Analysis& a, TextSink& f) {
    const CalibrationState& k = c.calib;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        std::string line = str(a.p) + " Port:" + c.ports.name(a.p - 1) + " input=\"" +
                           std::string(1, c.cfg.data_char) + "\" SIGNAL:" + str(J) +
                           " time:" + secs(c.cfg.results[J].signal_ms) + " SIGgap:" + secs(k.interval_us[J]);
        if (!a.use_datum[J])
            line += " **DATA IGNORED**2";
        else
            line += " SENSOR__gap:" + secs(k.adjusted_interval_us[J]);
        f.write_line(line);
    }
}

// The lines in use whose state changed from the event before.
std::string changed_lines(const Calibration& c, std::int32_t p, std::int32_t J) {
    const CalibrationState& k = c.calib;
    std::string out;
    static constexpr std::array<const char*, kModemLineCount> kLabels{" cts=", " dsr=", "  cd=", "  ri="};
    for (ModemLine l : kModemLines) {
        const PortLineStates& t = k.line_states[p][l];
        if (k.live_lines[l] && t[J] != t[J - 1]) out += kLabels[static_cast<std::size_t>(l)] + std::string(1, t[J]);
    }
    return out;
}

void write_signal_result(Calibration& c, Analysis& a, TextSink& f) {
    const CalibrationState& k = c.calib;
    std::int64_t total_ms = 0;
    std::int32_t signals = 0;
    std::int32_t S = 0;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        const double time = c.cfg.results[J].signal_ms;
        std::string line = "Prt:" + c.ports.name(a.p - 1) + changed_lines(c, a.p, J);
        if (J % 2 == 1) {
            S += 1;
            line += " SIG_ON  :" + str(S) + " time:" + secs(time) + " SIGgap:" + secs(k.interval_us[J]);
        } else {
            line += " SIG_OFF :" + str(S) + " time:" + secs(time) + " SIGlen:" + secs(k.interval_us[J]);
            // Whole milliseconds from the microsecond stamps: the same count as
            // truncating 1000 x seconds, without the rounding of the double.
            total_ms += (event_time(c, a.p, J) - event_time(c, a.p, J - 1)) / 1000;
            signals += 1;
        }
        if (!a.use_datum[J]) {
            line += " **DATA IGNORED**1";
        } else if (J % 2 == 1) {
            line += " SENS_ON__gap:" + secs(k.adjusted_interval_us[J]);
            a.kMaxSignalGap = std::max(a.kMaxSignalGap, k.adjusted_interval_us[J]);
            if (J >= 3) a.gap_measured = true;
        } else {
            line += " SENS_OFF_len:" + secs(k.adjusted_interval_us[J]);
            a.kMaxSignalLength = std::max(a.kMaxSignalLength, k.adjusted_interval_us[J]);
        }
        f.write_line(line);
    }
    c.cfg.mean_signal_ms = signals > 0 ? static_cast<std::int32_t>(total_ms / signals) : 0;
    f.write_line("Signal leng ave=" + str(c.cfg.mean_signal_ms) + "ms max=" + fixed_text(1000 * a.kMaxSignalLength, 6, 1) +
              "ms, max gap=" + fixed_text(1000 * a.kMaxSignalGap, 6, 1) + "ms");
}

// The sensor was on when the recording began: its gaps were measured as
// signals. The ringer may go on, but is told to restart.
void warn_interchanged(Calibration& c) {
    c.dialog.select(Area::Full);
    c.dialog.move_to(1, c.dialog.first_line(Area::Scratch));
    c.dialog.colour(kYellow);
    c.dialog.write_line("Signal & interval appear interchanged (caused by signal set ON at start)");
    c.log.write_line("Signal & interval appear interchanged (caused by signal set ON at start) - asked to quit");
    c.log.flush();
    c.dialog.write_line("Press Q to Quit.  Then restart program");
    c.dialog.colour(kWhite);
    (void)c.dialog.wait_key();
}

}  // namespace

void write_port_times_signals(Calibration& c, std::int32_t p) {
    CalibrationState& k = c.calib;
    const std::int32_t n = k.signal_counts[p];
    for (ModemLine l : kModemLines) k.line_states[p][l][n] = line_char(k.on[p][l]);
}

// A data-mode event keeps the port's line states under its number too, so
// every counted event has its entry in the state tables whatever the mode;
// with monitoring on, the event goes to the log as it is taken.
void write_port_times_data(Calibration& c, std::int32_t p) {
    write_port_times_signals(c, p);
    if (c.cfg.monitor_output) {
        const std::int32_t n = c.calib.signal_counts[p];
        c.log.write_line("Data event " + str(n) + " port " + c.ports.name(p - 1) + " input=\"" +
                           std::string(1, c.cfg.data_char) + "\" time(us)=" + str(c.calib.event_us[p][n]));
    }
}

void write_port_times_summary(Calibration& c, std::int32_t p) {
    Analysis a;
    a.p = p;
    // The tables hold kMaxCalibrationEvents events; a count beyond them is not
    // read past the end.
    a.N = std::clamp<std::int32_t>(c.calib.signal_counts[p], 0, kMaxCalibrationEvents);
    const double B = c.cfg.switch_bounce_ms * 0.001;

    c.calib.good_signals = a.N;
    a.use_datum.fill(true);
    compute_intervals(c, a);
    if (c.cfg.rest_on_mode)
        fold_data_bounces(c, a, B);
    else
        fold_signal_bounces(c, a, B);
    store_result(c, a);

    if (c.cfg.rest_on_mode) {
        write_data_result(c, a, c.dialog);
        write_data_result(c, a, c.log);
        return;
    }
    write_signal_result(c, a, c.dialog);
    write_signal_result(c, a, c.log);
    c.log.flush();
    // Without a gap between two signals there is nothing to compare: a
    // single ON/OFF sensor gives one long signal and must not be told to quit.
    if (a.gap_measured && a.kMaxSignalLength > a.kMaxSignalGap) warn_interchanged(c);
}

}  // namespace qn
