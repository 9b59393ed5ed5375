// The run log: one text file per run under "logs", CR LF line ends, written by
// both threads. When it cannot be created the run goes on without it.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "console/textsink.h"
#include "platform/files.h"

namespace qn {

class RunLog : public TextSink {
public:
    RunLog() = default;
    // Adopts an open file; nullptr means "no log".
    void adopt(std::unique_ptr<platform::OutFile> file);
    bool is_open() const { return file_ != nullptr; }

    void write(std::string_view s) override;
    void newline() override;  // "\r\n"
    void writeln(std::string_view s = {}) override;  // one line, never split by the other thread
    void flush();

private:
    std::mutex mu_;
    std::unique_ptr<platform::OutFile> file_;
};

}  // namespace qn
