// The calibration analysis: intervals of the recorded events with switch
// bounce folded out, the calibration result, and the per-event reports.
#include "calibration/analysis.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/text.h"
#include "strokes/outputs.h"

namespace qn {

// One analysis: which events are used, their intervals, and the longest
// signal and gap the signal report found.
struct RecordingAnalysis::Pass {
    const PortRecording& r;
    const PerModemLine<bool>& live_lines;
    std::int32_t port_number = 0;
    const std::string& port_name;
    std::int32_t N = 0;
    std::int32_t good_signals = 0;
    Arr<bool, 1, kMaxCalibrationEvents> use_datum;
    Arr<double, 1, kMaxCalibrationEvents> interval_us;
    Arr<double, 1, kMaxCalibrationEvents> adjusted_interval_us;
    double kMaxSignalLength = 0;
    double kMaxSignalGap = 0;
    bool gap_measured = false;  // a used gap between two signals (odd event from 3 on)

    std::int64_t event_time(std::int32_t J) const { return r.event_us[J]; }
};

namespace {

std::string secs(double v) { return fixed_text(v, 7, 4); }

}  // namespace

// Raw intervals J := time of J less time of the one before (0 for the first).
void RecordingAnalysis::compute_intervals(Pass& a) {
    for (std::int32_t J = 1; J <= a.N; ++J) {
        const std::int64_t before = a.event_time(std::max(J - 1, 1));
        a.interval_us[J] = static_cast<double>(a.event_time(J) - before) / 1000000.0;
        a.adjusted_interval_us[J] = a.interval_us[J];
    }
}

// Data mode: a character too soon after the one before is a bounce or a
// doubled character; its interval goes to the next good event.
void RecordingAnalysis::fold_data_bounces(Pass& a, double B) {
    for (std::int32_t J = 2; J <= a.N; ++J) {
        if (a.interval_us[J] >= B) continue;
        a.use_datum[J] = false;
        a.good_signals -= 1;
        if (J < a.N) a.adjusted_interval_us[J + 1] = a.adjusted_interval_us[J] + a.adjusted_interval_us[J + 1];
        a.adjusted_interval_us[J] = 0;
    }
}

// Signals mode: odd events switch the sensor on. A gap too short to be real
// joins the two signals around it into one.
void RecordingAnalysis::fold_signal_bounces(Pass& a, double B) {
    for (std::int32_t J = 3; J <= a.N; J += 2) {
        if (a.interval_us[J] >= B) continue;
        a.use_datum[J - 1] = false;
        a.use_datum[J] = false;
        a.good_signals -= 2;
        if (J < a.N)
            a.adjusted_interval_us[J + 1] =
                a.adjusted_interval_us[J - 1] + a.adjusted_interval_us[J] + a.adjusted_interval_us[J + 1];
        a.adjusted_interval_us[J] = 0;
        a.adjusted_interval_us[J - 1] = 0;
    }
}

void RecordingAnalysis::store_result(const Pass& a) {
    const std::int64_t first = a.N >= 1 ? a.event_time(1) : 0;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        CalibrationResult& r = cfg_.results[J];
        r.signal_ms = static_cast<double>(a.event_time(J) - first) / 1000000.0;
        r.signal_gap_ms = a.interval_us[J];
        r.sensor_gap_ms = a.adjusted_interval_us[J];
    }
}

void RecordingAnalysis::write_data_result(const Pass& a, TextSink& f) {
    for (std::int32_t J = 1; J <= a.N; ++J) {
        std::string line = str(a.port_number) + " Port:" + a.port_name + " input=\"" +
                           std::string(1, cfg_.data_char) + "\" SIGNAL:" + str(J) +
                           " time:" + secs(cfg_.results[J].signal_ms) + " SIGgap:" + secs(a.interval_us[J]);
        if (!a.use_datum[J])
            line += " **DATA IGNORED**2";
        else
            line += " SENSOR__gap:" + secs(a.adjusted_interval_us[J]);
        f.write_line(line);
    }
}

// The lines in use whose state changed from the event before.
std::string RecordingAnalysis::changed_lines(const Pass& a, std::int32_t J) const {
    std::string out;
    static constexpr std::array<const char*, kModemLineCount> kLabels{" cts=", " dsr=", "  cd=", "  ri="};
    for (ModemLine l : kModemLines) {
        const auto& t = a.r.line_states[l];
        if (a.live_lines[l] && t[J] != t[J - 1]) out += kLabels[static_cast<std::size_t>(l)] + std::string(1, t[J]);
    }
    return out;
}

void RecordingAnalysis::write_signal_result(Pass& a, TextSink& f) {
    std::int64_t total_ms = 0;
    std::int32_t signals = 0;
    std::int32_t S = 0;
    for (std::int32_t J = 1; J <= a.N; ++J) {
        const double time = cfg_.results[J].signal_ms;
        std::string line = "Prt:" + a.port_name + changed_lines(a, J);
        if (J % 2 == 1) {
            S += 1;
            line += " SIG_ON  :" + str(S) + " time:" + secs(time) + " SIGgap:" + secs(a.interval_us[J]);
        } else {
            line += " SIG_OFF :" + str(S) + " time:" + secs(time) + " SIGlen:" + secs(a.interval_us[J]);
            // Whole milliseconds from the microsecond stamps: the same count as
            // truncating 1000 x seconds, without the rounding of the double.
            total_ms += (a.event_time(J) - a.event_time(J - 1)) / 1000;
            signals += 1;
        }
        if (!a.use_datum[J]) {
            line += " **DATA IGNORED**1";
        } else if (J % 2 == 1) {
            line += " SENS_ON__gap:" + secs(a.adjusted_interval_us[J]);
            a.kMaxSignalGap = std::max(a.kMaxSignalGap, a.adjusted_interval_us[J]);
            if (J >= 3) a.gap_measured = true;
        } else {
            line += " SENS_OFF_len:" + secs(a.adjusted_interval_us[J]);
            a.kMaxSignalLength = std::max(a.kMaxSignalLength, a.adjusted_interval_us[J]);
        }
        f.write_line(line);
    }
    cfg_.mean_signal_ms = signals > 0 ? static_cast<std::int32_t>(total_ms / signals) : 0;
    f.write_line("Signal leng ave=" + str(cfg_.mean_signal_ms) + "ms max=" + fixed_text(1000 * a.kMaxSignalLength, 6, 1) +
              "ms, max gap=" + fixed_text(1000 * a.kMaxSignalGap, 6, 1) + "ms");
}

// The sensor was on when the recording began: its gaps were measured as
// signals. The ringer may go on, but is told to restart.
void RecordingAnalysis::warn_interchanged() {
    dialog_.select(Area::Full);
    dialog_.move_to(1, dialog_.first_line(Area::Scratch));
    dialog_.colour(kYellow);
    dialog_.write_line("Signal & interval appear interchanged (caused by signal set ON at start)");
    log_.write_line("Signal & interval appear interchanged (caused by signal set ON at start) - asked to quit");
    log_.flush();
    dialog_.write_line("Press Q to Quit.  Then restart program");
    dialog_.colour(kWhite);
    (void)dialog_.wait_key();
}

std::int32_t RecordingAnalysis::analyse(const PortRecording& recording, const PerModemLine<bool>& live_lines,
                                        std::int32_t port_number, const std::string& port_name) {
    Pass a{recording, live_lines, port_number, port_name};
    // The tables hold kMaxCalibrationEvents events; a count beyond them is not
    // read past the end.
    a.N = std::clamp<std::int32_t>(recording.count, 0, kMaxCalibrationEvents);
    const double B = cfg_.switch_bounce_ms * 0.001;

    a.good_signals = a.N;
    a.use_datum.fill(true);
    compute_intervals(a);
    if (cfg_.rest_on_mode)
        fold_data_bounces(a, B);
    else
        fold_signal_bounces(a, B);
    store_result(a);

    if (cfg_.rest_on_mode) {
        write_data_result(a, dialog_);
        write_data_result(a, log_);
        return a.good_signals;
    }
    write_signal_result(a, dialog_);
    write_signal_result(a, log_);
    log_.flush();
    // Without a gap between two signals there is nothing to compare: a
    // single ON/OFF sensor gives one long signal and must not be told to quit.
    if (a.gap_measured && a.kMaxSignalLength > a.kMaxSignalGap) warn_interchanged();
    return a.good_signals;
}

}  // namespace qn
