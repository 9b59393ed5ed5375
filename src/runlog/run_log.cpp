#include "runlog/run_log.h"

namespace qn {

void RunLog::adopt(std::unique_ptr<platform::OutFile> file) {
    std::lock_guard<std::mutex> lock(mu_);
    file_ = std::move(file);
    stopped_ = false;
    report_due_ = false;
}

void RunLog::on_stop(std::function<void(const std::string&)> report) {
    std::lock_guard<std::mutex> lock(mu_);
    report_ = std::move(report);
    report_thread_ = std::this_thread::get_id();
}

// Write errors are not reported line by line: the log is a record, and the
// ringing must go on without it. The first one stops the log, so a full disk
// costs one failed call, not one per line.
void RunLog::put_locked(std::string_view bytes) {
    if (!file_ || stopped_) return;
    auto r = file_->write(bytes);
    if (!r.ok()) stop_locked(r.error());
}

void RunLog::stop_locked(const std::string& error) {
    error_ = error;
    stopped_ = true;
    report_due_ = true;
}

void RunLog::report_if_due() {
    if (!report_due_.load() || !report_ || std::this_thread::get_id() != report_thread_) return;
    if (!report_due_.exchange(false)) return;
    stopped_reason_ = error_;
    report_(error_);
}

void RunLog::write(std::string_view s) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        put_locked(s);
    }
    report_if_due();
}

void RunLog::newline() { write("\r\n"); }

void RunLog::write_line(std::string_view s) {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (file_ && !stopped_) {
            std::string line(s);
            line += "\r\n";
            put_locked(line);
        }
    }
    report_if_due();
}

void RunLog::flush() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        if (file_ && !stopped_) {
            auto r = file_->flush();
            if (!r.ok()) stop_locked(r.error());
        }
    }
    report_if_due();
}

}  // namespace qn
