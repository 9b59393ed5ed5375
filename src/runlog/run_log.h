// The run log: one text file per run under "logs", CR LF line ends, written by
// both threads. When it cannot be created the run goes on without it; when a
// write fails (a full disk, a folder gone) it stops there, says so once, and
// the run goes on.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "core/text_sink.h"
#include "platform/files.h"

namespace qn {

class RunLog : public TextSink {
public:
    RunLog() = default;
    // Adopts an open file; nullptr means "no log".
    void adopt(std::unique_ptr<platform::OutFile> file);
    bool is_open() const { return file_ != nullptr; }
    // True once a write has failed: nothing more is written.
    bool stopped() const { return stopped_.load(); }

    // The file's path without ".log", chosen before it is created.
    void set_name(std::string name) { name_ = std::move(name); }
    const std::string& name() const { return name_; }
    // Why there is no log this run (empty: there is one, or none was tried).
    void set_no_log_reason(std::string reason) { no_log_reason_ = std::move(reason); }
    const std::string& no_log_reason() const { return no_log_reason_; }
    // The error that stopped the log part way, once it has been reported
    // (main thread only).
    const std::string& stopped_reason() const { return stopped_reason_; }

    // report is called once, with the error, when the first write or flush
    // fails; always on the thread that set it (the main thread, which owns
    // the screen): a failure on another thread is reported at that thread's
    // next use of the log.
    void on_stop(std::function<void(const std::string&)> report);

    void write(std::string_view s) override;
    void newline() override;  // "\r\n"
    void write_line(std::string_view s = {}) override;  // one line, never split by the other thread
    void flush() override;

private:
    void put_locked(std::string_view bytes);
    void stop_locked(const std::string& error);
    void report_if_due();

    std::mutex mu_;
    std::unique_ptr<platform::OutFile> file_;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> report_due_{false};
    std::string error_;  // set once, before report_due_
    std::string name_;
    std::string no_log_reason_;
    std::string stopped_reason_;
    std::function<void(const std::string&)> report_;
    std::thread::id report_thread_;
};

}  // namespace qn
