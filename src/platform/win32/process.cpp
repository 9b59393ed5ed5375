#include "platform/win32/win32.h"

#include <cstdio>

namespace qn::platform::win32 {

namespace {

class Win32Process final : public Process {
public:
    // Buffered stdio output is written out here: nothing after ExitProcess
    // can be relied on to do it.
    [[noreturn]] void exit(int code) override {
        std::fflush(nullptr);
        ExitProcess(static_cast<UINT>(code));
    }
};

}  // namespace

std::unique_ptr<Process> make_process() { return std::make_unique<Win32Process>(); }

}  // namespace qn::platform::win32
