// The ends of a run: the quit keys, a stop the run cannot go on from, a
// request from the OS (a signal, the console closed, log-off, shutdown) and
// a keyboard that has ended. Every end keeps the touch being rung: its event
// list goes to the run log before the log's last line, which says how the
// run ended.
#pragma once

#include <string>

#include "core/run_ending.h"
#include "core/waiting.h"
#include "platform/ending.h"

namespace qn {

struct Program;

// How the run was asked to end, if it was; the keyboard's end counts as a
// request (reason None, name "end of file").
struct RunEndAsk {
    bool asked = false;
    platform::EndRequest request;
};

class RunEnd : public RunEnding {
public:
    explicit RunEnd(Program& program) : program_(program) {}

    // From now on requests to end come to the program instead of ending it.
    void take_requests();
    RunEndAsk asked();

    void end_if_asked() override;
    bool end_asked() override { return asked().asked; }
    [[noreturn]] void end_for_closed_keyboard() override;
    [[noreturn]] void quit() override;
    [[noreturn]] void halt(std::int32_t code, const std::string& message) override;
    [[noreturn]] void exit(int code) override;

    // Ends the run now: the open touch, the last line, the exit code.
    [[noreturn]] void end(const RunEndAsk& ask);
    // The event list of the touch rung since the last one was written, if any.
    void write_open_touch();

private:
    Program& program_;
    // Set once Q or a request is ending the run: its own closing pause must
    // not start a second end (Q with the keyboard at its end). A halt's
    // prompt for Enter can still be ended from outside.
    bool ending_ = false;
};

// The main thread's waits on the program's stopwatch and wait service.
class MainThreadWaiting : public Waiting {
public:
    explicit MainThreadWaiting(Program& program) : program_(program) {}
    void wait_for(std::int32_t ms, std::uint32_t sources) override;
    void sleep_ms(std::int32_t ms) override;

private:
    Program& program_;
};

// The last line of the run log and the exit code for an end.
std::string run_end_line(const RunEndAsk& ask);
int run_end_exit_code(const RunEndAsk& ask);

}  // namespace qn
