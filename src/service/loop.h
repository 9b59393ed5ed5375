// The service loop: one pass drives every subsystem (commands and automatic
// ringing, the watch loop, key dispatch), then waits for whatever comes
// first: a sensor event, a byte on the port, a console key, the next due
// key or beat, or loop_sleep_ms milliseconds, the longest one pass may wait while
// ringing is under way (at rest, with nothing to count or send, the sources
// alone wake it).
#pragma once

#include <cstdint>

namespace qn {

struct Program;

// What the next wait of the loop will be: until when, for which sources,
// and whether that time is a due time to keep precisely. wait is false when
// the pass must not wait at all (loop_sleep_ms -1, or events already waiting);
// yield is set for loop_sleep_ms 0, which gives up the time slice instead.
struct PassWait {
    bool wait = false;
    bool yield = false;
    std::int64_t until_us = 0;
    std::uint32_t sources = 0;
    bool precise = false;
};

// Ready for service: the port whose bytes wake the loop (data mode).
void prepare_service_loop(Program& program);
PassWait plan_pass_wait(const Program& program, std::int64_t now_us);
// The end of a pass: the screen shown, then the wait plan_pass_wait gives.
void wait_for_next_pass(Program& program);
void main_loop_pass(Program& program);

}  // namespace qn
