// The run log's file, its first line, and the monitor and event-log formats.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;

// The screen line that tells of a run without its log: the last line of the
// service menu's header, free below the menu.
inline constexpr int LOGNOTICELINE = 8;

void STARTERRORLOG(Context& c);
// "No run log this time: ..." or "Run log stopped, ringing goes on: ...",
// one screen line; empty while the log is being written.
std::string log_notice(const Context& c);
void MYFLUSH(Context& c);
void WRITELOG(Context& c, bool off);
void WRITELOGDATA(Context& c, std::int32_t count);
// The event log of a touch: ring events from COMMMARKER on (signals mode),
// the omitted events, the output records.
void write_event_log(Context& c);
// The local date and time as "short date" + " " + "long time".
std::string date_time_text(Context& c);

}  // namespace qn
