// The run log's file and its first line.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

class RunLog;
class Screen;
namespace platform {
class Files;
}

// The screen line that tells of a run without its log: the last line of the
// service menu's header, free below the menu.
inline constexpr int log_notice_line = 8;

// Creates the log in logs_folder, named by the date and time. Why it could
// not be made goes on the screen, and why it stopped part way goes on the
// notice line at once.
void start_run_log(RunLog& log, platform::Files& files, Screen& screen, const std::string& logs_folder);
// "No run log this time: ..." or "Run log stopped, ringing goes on: ...",
// one screen line; empty while the log is being written.
std::string log_notice(const RunLog& log);

}  // namespace qn
