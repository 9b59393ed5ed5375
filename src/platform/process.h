// Ending the process.
#pragma once

namespace qn::platform {

class Process {
public:
    virtual ~Process() = default;
    // Ends the process at once with this exit code; the console must have been
    // given back already. Test doubles throw instead.
    [[noreturn]] virtual void exit(int code) = 0;
};

}  // namespace qn::platform
