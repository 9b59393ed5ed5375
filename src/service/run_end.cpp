#include "service/run_end.h"

#include "strokes/band.h"

#include <cstdlib>

#include "link/tower.h"
#include "runlog/striking_files.h"
#include "striking/recorder.h"
#include "serial/ports.h"
#include "service/program.h"
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

void RunEnd::end(const RunEndAsk& ask) {
    ending_ = true;
    const std::string line = run_end_line(ask);
    program_.console.clear(Area::Scratch);
    program_.screen.text_colour(kYellow);
    program_.screen.write_line(line + " - closing...");
    write_open_touch();
    program_.run_log.write_line(line);
    program_.clock.stop();
    exit(run_end_exit_code(ask));
}

void RunEnd::take_requests() {
    if (!program_.plat.ending) return;
    auto r = program_.plat.ending->take_requests();
    if (!r.ok())
        program_.run_log.write_line("Requests to end the program are left to the system, which ends it at once: " + r.error());
    else if (const std::string unheard = program_.plat.ending->unheard(); !unheard.empty())
        program_.run_log.write_line("Requests to end the program: " + unheard);
}

RunEndAsk RunEnd::asked() {
    RunEndAsk ask;
    if (program_.plat.ending) ask.request = program_.plat.ending->requested();
    if (ask.request.reason != EndReason::None) {
        ask.asked = true;
    } else if (program_.plat.console && program_.plat.console->input_ended()) {
        ask.asked = true;
        ask.request.name = "end of file";
    }
    return ask;
}

void RunEnd::end_if_asked() {
    if (ending_) return;
    const RunEndAsk ask = asked();
    if (ask.asked) end(ask);
}

void RunEnd::end_for_closed_keyboard() {
    RunEndAsk ask;
    ask.asked = true;
    ask.request.name = "end of file";
    end(ask);
}

void RunEnd::quit() {
    ending_ = true;
    program_.console.clear(Area::Scratch);
    program_.screen.text_colour(kYellow);
    program_.screen.write_line("Interface terminated by User - closing...");
    write_open_touch();
    program_.run_log.write_line("Interface terminated by User - closing...");
    program_.clock.stop();
    program_.console.pause_ms(2000);
    exit(0);
}

void RunEnd::halt(std::int32_t code, const std::string& message) {
    program_.screen.text_colour(kYellow);
    const std::string s = message.empty() ? std::string("Terminated by User") : message;
    program_.run_log.write_line(s);
    program_.run_log.flush();
    program_.screen.write(s);
    // A keyboard that has ended cannot press Enter; the message and the
    // code stand.
    if (!asked().asked) {
        bool ended = false;
        (void)program_.console.read_line(&ended);
    }
    program_.screen.text_colour(kWhite);
    // Callers pass codes above 10 only when the port is open.
    if (code > 10 && program_.ports.service() != 0) program_.ports.close_service();
    program_.clock.stop();
    exit(code > 0 ? code : 0);
}

void RunEnd::exit(int code) {
    program_.tower->stop();  // leaves the tower, so no one waits on a ringer who has gone
    if (program_.striking) program_.striking->finish();  // the last striking report, and its files
    if (program_.striking_files) program_.striking_files->finish();
    program_.run_log.flush();
    program_.screen.present();
    program_.plat.console->close();
    program_.plat.process->exit(code);
    std::abort();  // exit does not come back
}

void RunEnd::write_open_touch() {
    if (program_.band && program_.band->on()) {
        if (program_.strikes->rows().rows() <= 0) return;
        program_.run_log.write_line("Writing the event log of the touch rung so far");
        program_.band->log_touch(TouchEnd::RunEnded);
        return;
    }
    if (program_.strikes->keys().output_count() <= 0) return;
    program_.run_log.write_line("Writing the event log of the touch rung so far");
    program_.strikes->log_touch(TouchEnd::RunEnded);
}

void MainThreadWaiting::wait_for(std::int32_t ms, std::uint32_t sources) { program_.clock.wait_ms(ms, sources); }
void MainThreadWaiting::sleep_ms(std::int32_t ms) { program_.plat.threads->sleep_ms(ms); }

std::string run_end_line(const RunEndAsk& ask) {
    const EndWay* w = way_of(ask);
    return std::string("Run ended: ") + (w ? w->what : "the keyboard's input ended") + " (" + ask.request.name + ")";
}

int run_end_exit_code(const RunEndAsk& ask) {
    const EndWay* w = way_of(ask);
    return w ? w->exit_code : 0;
}

}  // namespace qn
