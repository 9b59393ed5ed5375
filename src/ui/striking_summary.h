// A touch's striking on the service screen's scratch lines when the touch
// ends, and the same lines for the run log: the errors at each stroke, the
// worst blows, the rhythm and the suggested delay. They stay until the next
// touch begins.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "striking/records.h"

namespace qn {

class Screen;

// The summary's lines, each within a screen line.
std::vector<std::string> striking_summary_lines(const TouchStriking& t);
// The run log's: the summary's and, for a band, a line per bell.
std::vector<std::string> striking_log_lines(const TouchStriking& t);

class StrikingSummary : public StrikingReport {
public:
    // files_line: the line that says where the report is, asked after the
    // files have been written (empty: none).
    StrikingSummary(Screen& screen, std::function<std::string()> files_line)
        : screen_(screen), files_line_(std::move(files_line)) {}

    void touch_striking(const TouchStrikingPtr& t) override;

    static constexpr int kFirstLine = 11;  // below the lines of a run's end
    static constexpr int kLastLine = 19;   // above "Ringing ceased"

private:
    Screen& screen_;
    std::function<std::string()> files_line_;
};

}  // namespace qn
