// The calibration analysis of one port's recording: intervals with switch
// bounce folded out, the results in the settings, and the report.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/settings.h"
#include "core/dialog.h"
#include "core/modem_line.h"
#include "core/text_sink.h"

namespace qn {

// A port's events while the bell rang, from 0 (the report numbers them from
// 1). The line states, as 'T' and 'F', are kept after each count of events:
// entry 0 holds the lines at rest, entry n + 1 the lines after event n.
struct PortRecording {
    std::int32_t count = 0;
    std::array<std::int64_t, kMaxCalibrationEvents> event_us{};
    PerModemLine<std::array<char, kMaxCalibrationEvents + 1>> line_states{};
};

class RecordingAnalysis {
public:
    RecordingAnalysis(Settings& settings, Dialog& dialog, TextSink& log)
        : cfg_(settings), dialog_(dialog), log_(log) {}

    // The recording of the port (port_number as shown, from 1) on the lines
    // that moved: the settings get the results and, in signals mode, the
    // mean signal; the report goes to the screen and the log. Returns the
    // number of good signals.
    std::int32_t analyse(const PortRecording& recording, const PerModemLine<bool>& live_lines,
                         std::int32_t port_number, const std::string& port_name);

private:
    struct Pass;
    void compute_intervals(Pass& a);
    void fold_data_bounces(Pass& a, double bounce_s);
    void fold_signal_bounces(Pass& a, double bounce_s);
    void store_result(const Pass& a);
    void write_data_result(const Pass& a, TextSink& f);
    std::string changed_lines(const Pass& a, std::int32_t event) const;
    void write_signal_result(Pass& a, TextSink& f);
    void warn_interchanged();

    Settings& cfg_;
    Dialog& dialog_;
    TextSink& log_;
};

}  // namespace qn
