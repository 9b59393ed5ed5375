// The run log's file, its first line, and the monitor and event-log formats.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;

void STARTERRORLOG(Context& c);
void MYFLUSH(Context& c);
void WRITELOG(Context& c, bool off);
void WRITELOGDATA(Context& c, std::int32_t count);
// The event log of a touch: ring events from COMMMARKER on (signals mode),
// the omitted events, the output records.
void write_event_log(Context& c);
// The local date and time as "short date" + " " + "long time".
std::string date_time_text(Context& c);

}  // namespace qn
