// A touch's striking beside the run log: its summary in the log itself, and
// the report page and every blow as files named after the log and the
// touch ("..._touch3.html", "..._touch3.csv"). The files are opened at
// once, so that a folder that takes none is told on the screen, and are
// filled on a thread of their own: a peal's page takes tens of
// milliseconds to make, and the next strike must not wait for it.
#pragma once

#include <memory>
#include <string>

#include "striking/records.h"

namespace qn {

namespace platform {
class Files;
class Threads;
}  // namespace platform
class RunLog;

class StrikingFiles : public StrikingReport {
public:
    StrikingFiles(RunLog& log, platform::Files& files, platform::Threads& threads)
        : log_(log), files_(files), threads_(threads) {}

    void touch_striking(const TouchStrikingPtr& t) override;
    // Waits, for a few seconds at most, until the last report's files are
    // written: before the program ends.
    void finish();

    // What the screen says of the last report's files (empty: nothing).
    const std::string& files_line() const { return files_line_; }

    struct Job;

private:
    RunLog& log_;
    platform::Files& files_;
    platform::Threads& threads_;
    std::shared_ptr<Job> job_;
    std::string files_line_;
};

}  // namespace qn
