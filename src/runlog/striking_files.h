// A touch's striking beside the run log: its summary in the log itself.
#pragma once

#include <string>

#include "striking/records.h"

namespace qn {

class RunLog;

class StrikingFiles : public StrikingReport {
public:
    explicit StrikingFiles(RunLog& log) : log_(log) {}

    void touch_striking(const TouchStriking& t) override;

    // What the screen says of the last report's files (empty: nothing).
    const std::string& files_line() const { return files_line_; }

private:
    RunLog& log_;
    std::string files_line_;
};

}  // namespace qn
