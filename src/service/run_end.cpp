#include "service/run_end.h"

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
    c_.console.clear(Area::Scratch);
    c_.screen.text_colour(kYellow);
    c_.screen.write_line(line + " - closing...");
    write_open_touch();
    c_.run_log.write_line(line);
    c_.clock.stop();
    exit(run_end_exit_code(ask));
}

void RunEnd::take_requests() {
    if (!c_.plat.ending) return;
    auto r = c_.plat.ending->take_requests();
    if (!r.ok())
        c_.run_log.write_line("Requests to end the program are left to the system, which ends it at once: " + r.error());
    else if (const std::string unheard = c_.plat.ending->unheard(); !unheard.empty())
        c_.run_log.write_line("Requests to end the program: " + unheard);
}

RunEndAsk RunEnd::asked() {
    RunEndAsk ask;
    if (c_.plat.ending) ask.request = c_.plat.ending->requested();
    if (ask.request.reason != EndReason::None) {
        ask.asked = true;
    } else if (c_.plat.console && c_.plat.console->input_ended()) {
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
    c_.console.clear(Area::Scratch);
    c_.screen.text_colour(kYellow);
    c_.screen.write_line("Interface terminated by User - closing...");
    write_open_touch();
    c_.run_log.write_line("Interface terminated by User - closing...");
    c_.clock.stop();
    c_.console.pause_ms(2000);
    exit(0);
}

void RunEnd::halt(std::int32_t code, const std::string& message) {
    c_.screen.text_colour(kYellow);
    const std::string s = message.empty() ? std::string("Terminated by User") : message;
    c_.run_log.write_line(s);
    c_.run_log.flush();
    c_.screen.write(s);
    // A keyboard that has ended cannot press Enter; the message and the
    // code stand.
    if (!asked().asked) {
        bool ended = false;
        (void)c_.console.read_line(&ended);
    }
    c_.screen.text_colour(kWhite);
    // Callers pass codes above 10 only when the port is open.
    if (code > 10 && c_.ports.service() != 0) c_.ports.close_service();
    c_.clock.stop();
    exit(code > 0 ? code : 0);
}

void RunEnd::exit(int code) {
    c_.tower->stop();  // leaves the tower, so no one waits on a ringer who has gone
    if (c_.striking) c_.striking->finish();  // the last striking report, and its files
    if (c_.striking_files) c_.striking_files->finish();
    c_.run_log.flush();
    c_.screen.present();
    c_.plat.console->close();
    c_.plat.process->exit(code);
    std::abort();  // exit does not come back
}

void RunEnd::write_open_touch() {
    if (c_.strikes->keys().output_count() <= 0) return;
    c_.run_log.write_line("Writing the event log of the touch rung so far");
    c_.strikes->log_touch(TouchEnd::RunEnded);
}

void MainThreadWaiting::wait_for(std::int32_t ms, std::uint32_t sources) { c_.clock.wait_ms(ms, sources); }
void MainThreadWaiting::sleep_ms(std::int32_t ms) { c_.plat.threads->sleep_ms(ms); }

std::string run_end_line(const RunEndAsk& ask) {
    const EndWay* w = way_of(ask);
    return std::string("Run ended: ") + (w ? w->what : "the keyboard's input ended") + " (" + ask.request.name + ")";
}

int run_end_exit_code(const RunEndAsk& ask) {
    const EndWay* w = way_of(ask);
    return w ? w->exit_code : 0;
}

}  // namespace qn
