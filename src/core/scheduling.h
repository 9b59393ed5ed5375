// Real-time scheduling for the program's two timing threads: each asks for
// it itself when it starts, and the run log says what it got and why not.
#pragma once

namespace qn {

struct Context;

enum class TimingThread { Serial, MainLoop };

// Asks for the calling thread's scheduling, best first: the system's own
// real-time scheduling, then a broker's, then a higher ordinary priority.
// One run-log line: what was granted, and each better way that was refused
// with its call and error. The main loop also keeps the program in memory
// (a line of its own), and asks for nothing when its passes never wait.
void ask_for_realtime(Context& c, TimingThread who);

}  // namespace qn
