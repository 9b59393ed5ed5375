#include "runlog/delivery_log.h"

#include <string>

#include "core/text.h"
#include "platform/platform.h"
#include "runlog/run_log_start.h"
#include "runlog/run_log.h"

namespace qn {

void log_desktop(RunLog& log, const platform::DesktopInfo& d) {
    if (d.reach == platform::DesktopReach::Messages) return;
    for (const std::string& line : d.choice) log.write_line("Desktop: " + line);
    for (const std::string& line : d.notices) log.write_line(line);
}

std::string DeliveryLog::stamp() const { return date_time_text(*plat_.files); }

void DeliveryLog::key_sent(const KeySent& r) {
    log_.write_line(stamp() + " key " + std::string(1, r.key) + " (" +
                    str(static_cast<unsigned char>(r.key)) + " sent/timesincelastkeysend (secs)\t" +
                    fixed_text(static_cast<double>(r.at_us) / 1e6, 9, 5) + "\t" +
                    fixed_text(static_cast<double>(r.since_last_us) / 1e6, 9, 5));
}

void DeliveryLog::doubled_key_sent(const DoubledKeySent&) { log_.write_line("doubled key sent"); }

void DeliveryLog::outputs_noted(const OutputsNoted& r) {
    log_.write_line("noutputtime=" + str(r.outputs));
    log_.flush();
}

void DeliveryLog::focus_lost(const FocusLost& r) {
    const std::string name = "\"" + std::string(r.target_program) + "\"";
    const char* what = r.still ? " still not the focus window - Key sends suspended, #Key was "
                               : " is not the focus window - Key sending suspended, #Key was ";
    log_.write_line(stamp() + " " + name + what + str(r.point + 1));
}

void DeliveryLog::focus_regained(const FocusRegained&) {
    front_seen_.clear();
    log_.write_line("Recovered from loss of focus");
}

void DeliveryLog::focus_window_seen(const FocusWindowSeen& r) {
    const std::string line = "window not focussed Got " + str_u(r.window) + " <" + std::string(r.title) +
                             "> expected;" + str_u(r.expected_window) + " <" + std::string(r.expected_title) + ">";
    if (!r.adopted && line == front_seen_) return;
    front_seen_ = r.adopted ? std::string() : line;
    log_.write_line(line);
    if (r.adopted) log_.write_line("***handle replaced***");
}

void DeliveryLog::target_window_missing(const TargetWindowMissing& r) {
    if (r.paused)
        log_.write_line(std::string(r.name) + " window not found");
    else
        log_.write_line(std::string(r.name) + " not found ");
}

void DeliveryLog::program_not_running(const ProgramNotRunning& r) {
    log_.write_line(std::string(r.logged) + " not present");
}

void DeliveryLog::key_refused(const KeyRefused& r) {
    log_.write_line("Key not delivered: " + (r.failed ? std::string(r.error)
                                                      : "SendInput inserted " + std::to_string(r.inserted) + " of " +
                                                            std::to_string(r.sent) + " events"));
}

void DeliveryLog::program_window_not_found(const ProgramWindowNotFound& r) {
    if (!r.logged.empty()) log_.write_line(r.logged);
}

void DeliveryLog::target_notice(const TargetNotice& r) { log_.write_line(r.text); }

void DeliveryLog::several_instances(const SeveralInstances& r) {
    log_.write_line("Warning: There are " + str(static_cast<std::int64_t>(r.pids.size())) +
                    " instances of the target program running");
    for (std::size_t i = 0; i < r.pids.size(); ++i)
        log_.write_line(str(static_cast<std::int64_t>(i + 1)) + " processid=" + str_u(r.pids[i]));
}

void DeliveryLog::window_search_trace(const WindowSearchTrace& r) { log_.write_line(r.line); }

void DeliveryLog::window_search_failed(const WindowSearchFailed& r) { log_.write_line(r.error); }

// No line end: what the target's set-up logs next follows on the line.
void DeliveryLog::target_chosen(const TargetChosen& r) {
    if (r.program == "Open")
        log_.write("Open - Uses any program window that has focus");
    else
        log_.write("Program chosen to use=" + std::string(r.program) + " ");
}

void DeliveryLog::target_window_matched(const TargetWindowMatched& r) {
    log_.write_line(str_u(r.window) + " " + std::string(r.title));
}

void DeliveryLog::target_window_sought(const TargetWindowSought& r) {
    if (r.found)
        log_.write_line("Target window " + std::string(r.title) + " found");
    else
        log_.write_line("The required target window (" + std::string(r.program) + ") NOT FOUND");
}

void DeliveryLog::switch_bounce_chosen(const SwitchBounceChosen& r) {
    log_.write_line((r.changed ? "Switch calibration changes to " : "Switch calibration remains as ") + str(r.bounce_ms));
}

void DeliveryLog::tower_rung(const TowerRung& r) {
    log_.write_line("tower bell " + str(r.bell) + (r.handstroke ? " hand" : " back") + (r.sent ? " sent" : " lost"));
}

void DeliveryLog::key_rings_no_bell(const KeyRingsNoBell& r) {
    log_.write_line(std::string("Tower link: key ") + r.key +
                    " rings no bell (keys 1-9, 0, -, = are bells 1-12; j and f your bells): not sent");
}

}  // namespace qn
