// The run log's file and its first line.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
namespace platform {
class Files;
}

// The screen line that tells of a run without its log: the last line of the
// service menu's header, free below the menu.
inline constexpr int log_notice_line = 8;

void start_run_log(Context& c);
// "No run log this time: ..." or "Run log stopped, ringing goes on: ...",
// one screen line; empty while the log is being written.
std::string log_notice(const Context& c);
void flush_run_log(Context& c);
// The local date and time as "short date" + " " + "long time".
std::string date_time_text(Context& c);

}  // namespace qn
