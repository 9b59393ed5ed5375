// The in-service screen: menu, calibration summary, monitor figures and the
// big row counter.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
class TextSink;

void SETUPFONT(Context& c);
void WRITEBIG(Context& c);
void WRITEINSERVICEMENU(Context& c);
void WRITECURRENTCALIBRATIONTOSCREEN(Context& c, TextSink& out);
void WRITESTARTUPTEXT(Context& c);

// Steps of WRITEBIG.
void WRITESTARTUPMONITORWINDOW(Context& c);
void REPAINTBIGNUMBER(Context& c);
void WRITEBIGNUMBER(Context& c, std::int32_t counter);
void WRITECHAR(Context& c, int x, int y, int digit);
void SETUPFASTLINE(Context& c);
std::string ELAPSEDTIME(std::int64_t millisecs);

// The console as a text sink for routines that write to "a text file".
TextSink& console_sink(Context& c);

}  // namespace qn
