// Console windows, colours, key input and the two ways the program stops
// from the console: the quit keys and a fatal stop with a message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

struct Context;

void FULLWINDOW(Context& c);
void HEADERWINDOWCLS(Context& c);
void LONGSCRATCHWINDOWCLS(Context& c);
void SCRATCHWINDOWCLS(Context& c);
void MONITORWINDOWCLS(Context& c);
void BIGNUMBERWINDOWCLS(Context& c);
void LOWSCRATCHWINDOWCLS(Context& c);

// Ends the program when ch is Ctrl-C, Esc or Q (either case).
void QTERMINATE(Context& c, char ch);
char READNORMALKEYCHAR(Context& c);
char WAITFORKEYSTROKEANDRETURNNORMALKEY(Context& c);
void CLEARKEYBUFFER(Context& c);
// One line typed at the console, echoed at the cursor, without its Enter.
std::string read_line(Context& c);
std::int32_t READSTR2LONGINT(Context& c);
std::string REMOVEUNDERLINEFROMSTRING(std::string_view s);
[[noreturn]] void MYHALT(Context& c, std::int32_t code, std::string_view message);

// Sleeps on the main thread (console shown first).
void SLEEP(Context& c, std::int32_t ms);
// Shows the screen and waits up to ms for a console key.
void wait_for_key(Context& c, std::int32_t ms);
// Ends the process: the console is given back, the log flushed.
[[noreturn]] void end_process(Context& c, int code);

}  // namespace qn
