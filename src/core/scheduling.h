// Real-time scheduling for the program's two timing threads: each asks for
// it itself when it starts, and the run log says what it got and why not.
#pragma once

#include <cstdint>

namespace qn {

class TextSink;
namespace platform {
class Scheduling;
}

enum class TimingThread { Serial, MainLoop };

// How the main loop's passes wait, as the settings give it.
struct LoopPace {
    std::int32_t loop_sleep_ms = 0;  // SLEEPNUM
    bool data_mode = false;
};

// Asks for the calling thread's scheduling (null: the platform has no
// way), best first: the system's own real-time scheduling, then a broker's,
// then a higher ordinary priority. One line to log: what was granted, and
// each better way that was refused with its call and error. The main loop
// also keeps the program in memory (a line of its own), and asks for
// nothing when its passes never wait.
void ask_for_realtime(platform::Scheduling* scheduling, TextSink& log, TimingThread who, LoopPace pace = {});

}  // namespace qn
