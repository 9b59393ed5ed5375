// The calibration analysis: intervals of the recorded events with switch
// bounce folded out, the calibration result, and the per-event reports.
#include "calibration/analysis.h"

#include <algorithm>
#include <array>
#include <string>

#include "core/text.h"
#include "core/modem_line.h"

namespace qn {

// One analysis: which events are used, their intervals in seconds, and the
// longest signal and gap the signal report found. Events from 0: an even
// one switches the sensor on in signals mode.
struct RecordingAnalysis::Pass {
    const PortRecording& r;
    const PerModemLine<bool>& live_lines;
    std::int32_t port_number = 0;
    const std::string& port_name;
    std::int32_t count = 0;
    std::int32_t good_signals = 0;
    std::array<bool, kMaxCalibrationEvents> use_datum{};
    std::array<double, kMaxCalibrationEvents> interval_s{};
    std::array<double, kMaxCalibrationEvents> adjusted_interval_s{};
    double max_signal_s = 0;
    double max_gap_s = 0;
    bool gap_measured = false;  // a used gap between two signals

    // Checked: a count beyond the tables must not be read past them.
    std::int64_t event_time(std::int32_t j) const { return r.event_us.at(static_cast<std::size_t>(j)); }
    std::size_t last() const { return static_cast<std::size_t>(count); }
};

namespace {

std::string secs(double v) { return fixed_text(v, 7, 4); }

std::size_t at(std::int32_t j) { return static_cast<std::size_t>(j); }

}  // namespace

// Raw intervals: each event's time less the one before's (0 for the first).
void RecordingAnalysis::compute_intervals(Pass& a) {
    for (std::int32_t j = 0; j < a.count; ++j) {
        const std::int64_t before = a.event_time(std::max(j - 1, 0));
        a.interval_s[at(j)] = static_cast<double>(a.event_time(j) - before) / 1000000.0;
        a.adjusted_interval_s[at(j)] = a.interval_s[at(j)];
    }
}

// Data mode: a character too soon after the one before is a bounce or a
// doubled character; its interval goes to the next good event.
void RecordingAnalysis::fold_data_bounces(Pass& a, double bounce_s) {
    auto& adjusted = a.adjusted_interval_s;
    for (std::size_t j = 1; j < a.last(); ++j) {
        if (a.interval_s[j] >= bounce_s) continue;
        a.use_datum[j] = false;
        a.good_signals -= 1;
        if (j + 1 < a.last()) adjusted[j + 1] = adjusted[j] + adjusted[j + 1];
        adjusted[j] = 0;
    }
}

// Signals mode: a gap too short to be real joins the two signals around it
// into one.
void RecordingAnalysis::fold_signal_bounces(Pass& a, double bounce_s) {
    auto& adjusted = a.adjusted_interval_s;
    for (std::size_t j = 2; j < a.last(); j += 2) {
        if (a.interval_s[j] >= bounce_s) continue;
        a.use_datum[j - 1] = false;
        a.use_datum[j] = false;
        a.good_signals -= 2;
        if (j + 1 < a.last()) adjusted[j + 1] = adjusted[j - 1] + adjusted[j] + adjusted[j + 1];
        adjusted[j] = 0;
        adjusted[j - 1] = 0;
    }
}

void RecordingAnalysis::store_result(const Pass& a) {
    const std::int64_t first = a.count >= 1 ? a.event_time(0) : 0;
    for (std::int32_t j = 0; j < a.count; ++j) {
        CalibrationResult& r = cfg_.results[at(j)];
        r.signal_time_s = static_cast<double>(a.event_time(j) - first) / 1000000.0;
        r.signal_gap_s = a.interval_s[at(j)];
        r.sensor_gap_s = a.adjusted_interval_s[at(j)];
    }
}

void RecordingAnalysis::write_data_result(const Pass& a, TextSink& f) {
    for (std::int32_t j = 0; j < a.count; ++j) {
        std::string line = str(a.port_number) + " Port:" + a.port_name + " input=\"" +
                           std::string(1, cfg_.data_char) + "\" SIGNAL:" + str(j + 1) +
                           " time:" + secs(cfg_.results[at(j)].signal_time_s) + " SIGgap:" + secs(a.interval_s[at(j)]);
        if (!a.use_datum[at(j)])
            line += " **DATA IGNORED**2";
        else
            line += " SENSOR__gap:" + secs(a.adjusted_interval_s[at(j)]);
        f.write_line(line);
    }
}

// The lines in use whose state event j changed.
std::string RecordingAnalysis::changed_lines(const Pass& a, std::int32_t j) const {
    std::string out;
    static constexpr std::array<const char*, kModemLineCount> kLabels{" cts=", " dsr=", "  cd=", "  ri="};
    for (ModemLine l : kModemLines) {
        const auto& t = a.r.line_states[l];
        const char after = t[at(j) + 1];
        if (a.live_lines[l] && after != t[at(j)]) out += kLabels[static_cast<std::size_t>(l)] + std::string(1, after);
    }
    return out;
}

void RecordingAnalysis::write_signal_result(Pass& a, TextSink& f) {
    std::int64_t total_ms = 0;
    std::int32_t signals = 0;
    std::int32_t shown = 0;  // the signal's number, from 1
    for (std::int32_t j = 0; j < a.count; ++j) {
        const bool switched_on = j % 2 == 0;
        const double time = cfg_.results[at(j)].signal_time_s;
        const double interval = a.interval_s[at(j)];
        const double adjusted = a.adjusted_interval_s[at(j)];
        std::string line = "Prt:" + a.port_name + changed_lines(a, j);
        if (switched_on) {
            shown += 1;
            line += " SIG_ON  :" + str(shown) + " time:" + secs(time) + " SIGgap:" + secs(interval);
        } else {
            line += " SIG_OFF :" + str(shown) + " time:" + secs(time) + " SIGlen:" + secs(interval);
            // Whole milliseconds from the microsecond stamps: the same count as
            // truncating 1000 x seconds, without the rounding of the double.
            total_ms += (a.event_time(j) - a.event_time(j - 1)) / 1000;
            signals += 1;
        }
        if (!a.use_datum[at(j)]) {
            line += " **DATA IGNORED**1";
        } else if (switched_on) {
            line += " SENS_ON__gap:" + secs(adjusted);
            a.max_gap_s = std::max(a.max_gap_s, adjusted);
            if (j >= 2) a.gap_measured = true;
        } else {
            line += " SENS_OFF_len:" + secs(adjusted);
            a.max_signal_s = std::max(a.max_signal_s, adjusted);
        }
        f.write_line(line);
    }
    cfg_.mean_signal_ms = signals > 0 ? static_cast<std::int32_t>(total_ms / signals) : 0;
    f.write_line("Signal leng ave=" + str(cfg_.mean_signal_ms) + "ms max=" + fixed_text(1000 * a.max_signal_s, 6, 1) +
                 "ms, max gap=" + fixed_text(1000 * a.max_gap_s, 6, 1) + "ms");
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
    a.count = std::clamp<std::int32_t>(recording.count, 0, kMaxCalibrationEvents);
    const double bounce_s = cfg_.switch_bounce_ms * 0.001;

    a.good_signals = a.count;
    a.use_datum.fill(true);
    compute_intervals(a);
    if (cfg_.rest_on_mode)
        fold_data_bounces(a, bounce_s);
    else
        fold_signal_bounces(a, bounce_s);
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
    if (a.gap_measured && a.max_signal_s > a.max_gap_s) warn_interchanged();
    return a.good_signals;
}

}  // namespace qn
