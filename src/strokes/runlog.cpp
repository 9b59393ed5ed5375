#include "strokes/runlog.h"

namespace qn {

void RunLog::adopt(std::unique_ptr<platform::OutFile> file) {
    std::lock_guard<std::mutex> lock(mu_);
    file_ = std::move(file);
}

// Write errors are not reported line by line: the log is a record, and the
// ringing must go on without it.
void RunLog::write(std::string_view s) {
    std::lock_guard<std::mutex> lock(mu_);
    if (file_) (void)file_->write(s);
}

void RunLog::newline() { write("\r\n"); }

void RunLog::writeln(std::string_view s) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!file_) return;
    std::string line(s);
    line += "\r\n";
    (void)file_->write(line);
}

void RunLog::flush() {
    std::lock_guard<std::mutex> lock(mu_);
    if (file_) (void)file_->flush();
}

}  // namespace qn
