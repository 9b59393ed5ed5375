#include "console/run_end.h"

#include "console/console_ui.h"
#include "core/context.h"
#include "core/timing.h"
#include "serial/serial_thread.h"
#include "runlog/run_log_start.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

using platform::EndReason;

struct EndWay {
    EndReason reason;
    const char* what;
    int exit_code;  // as a shell reports a program ended by the like signal
};

constexpr EndWay kEndWays[] = {
    {EndReason::Interrupt, "interrupted", 130},
    {EndReason::HangUp, "its terminal was closed", 129},
    {EndReason::Terminate, "asked to end by another program or the system", 143},
    {EndReason::ConsoleClosed, "its console window was closed", 129},
    {EndReason::LogOff, "the user is logging off", 143},
    {EndReason::Shutdown, "the system is shutting down", 143},
};

const EndWay* way_of(const RunEndAsk& ask) {
    for (const EndWay& w : kEndWays)
        if (w.reason == ask.request.reason) return &w;
    return nullptr;
}

}  // namespace

void end_run(Context& c, const RunEndAsk& ask) {
    const std::string line = run_end_line(ask);
    clear_scratch_window(c);
    c.screen.text_colour(kYellow);
    c.screen.write_line(line + " - closing...");
    write_open_touch(c);
    c.run_log.write_line(line);
    if (c.core.stopwatch_started) stop_stopwatch(c);
    end_process(c, run_end_exit_code(ask));
}

void take_end_requests(Context& c) {
    if (!c.plat.ending) return;
    auto r = c.plat.ending->take_requests();
    if (!r.ok())
        c.run_log.write_line("Requests to end the program are left to the system, which ends it at once: " + r.error());
}

RunEndAsk run_end_asked(Context& c) {
    RunEndAsk ask;
    if (c.plat.ending) ask.request = c.plat.ending->requested();
    if (ask.request.reason != EndReason::None) {
        ask.asked = true;
    } else if (c.plat.console && c.plat.console->input_ended()) {
        ask.asked = true;
        ask.request.name = "end of file";
    }
    return ask;
}

void end_run_if_asked(Context& c) {
    const RunEndAsk ask = run_end_asked(c);
    if (ask.asked) end_run(c, ask);
}

void write_open_touch(Context& c) {
    if (c.strikes->keys().output_count() <= 0) return;
    c.run_log.write_line("Writing the event log of the touch rung so far");
    c.strikes->log_touch(TouchEnd::RunEnded);
}

std::string run_end_line(const RunEndAsk& ask) {
    const EndWay* w = way_of(ask);
    return std::string("Run ended: ") + (w ? w->what : "the keyboard's input ended") + " (" + ask.request.name + ")";
}

int run_end_exit_code(const RunEndAsk& ask) {
    const EndWay* w = way_of(ask);
    return w ? w->exit_code : 0;
}

}  // namespace qn
