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
// Waits for a key. Once the keyboard has closed no answer can come, and
// every question ends the program (end_for_closed_keyboard).
char WAITFORKEYSTROKEANDRETURNNORMALKEY(Context& c);
// A key to go on (Q still quits); false, at once, when the keyboard has closed.
bool key_to_go_on(Context& c);
[[noreturn]] void end_for_closed_keyboard(Context& c);
void CLEARKEYBUFFER(Context& c);
// One line typed at the console, echoed at the cursor, without its Enter.
// With ended given, a keyboard that closes ends the line and sets *ended;
// without, it ends the program.
std::string read_line(Context& c, bool* ended = nullptr);
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
