// A touch's striking on the service screen's scratch lines when the touch
// ends (the lines the run log has too: runlog/striking_summary_lines.h).
// They stay until the next touch begins.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "striking/records.h"

namespace qn {

class Screen;

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
