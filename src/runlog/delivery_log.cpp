#include "runlog/delivery_log.h"

#include <string>

#include "core/text.h"
#include "platform/platform.h"
#include "runlog/run_log_start.h"
#include "runlog/run_log.h"

namespace qn {

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

void DeliveryLog::focus_regained(const FocusRegained&) { log_.write_line("Recovered from loss of focus"); }

void DeliveryLog::focus_window_seen(const FocusWindowSeen& r) {
    log_.write_line("window not focussed Got " + str_u(r.window) + " <" + std::string(r.title) + "> expected;" +
                    str_u(r.expected_window) + " <" + std::string(r.expected_title) + ">");
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

}  // namespace qn
