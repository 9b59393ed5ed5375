// Reading the program's stopwatch.
#pragma once

#include <cstdint>

namespace qn {

struct Context;

void STARTTHETIMER(Context& c);
// Stops and clears the stopwatch. The object itself stays until the process
// ends, because the serial thread may still read it.
void STOPTHETIMER(Context& c);
std::int64_t MYELAPSEDMICROSECS(const Context& c);
std::int64_t SERIALMYELAPSEDMICROSECS(const Context& c);
std::int64_t MYELAPSEDMILLISECS(const Context& c);
void SERIALSTARTTHETIMER(Context& c);
std::int64_t MULTINT64(std::int32_t a, std::int32_t b);
// The timing figures for the run log: reported and measured rates, overheads.
void log_timer_calibration(Context& c);

}  // namespace qn
