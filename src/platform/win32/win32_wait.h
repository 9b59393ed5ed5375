// The Win32 wait service and what it needs of the other services.
#pragma once

#include "platform/win32/win32.h"

namespace qn::platform::win32 {

// The console's input side, as the wait sees it (console.cpp).
class ConsoleKeys {
public:
    enum class Input {
        None,    // nothing waiting (records that are not keys were dropped)
        Key,     // a key is waiting for read_key
        Failed,  // the input cannot be read
    };
    // The console input handle; nullptr while the console is not open.
    virtual HANDLE input_handle() const = 0;
    // Keys already taken from the input and not yet read.
    virtual bool keys_buffered() const = 0;
    // Takes what is waiting on the input: keys are kept for read_key, every
    // other record is dropped, so the handle is no longer signalled for it.
    virtual Input take_input() = 0;

protected:
    ~ConsoleKeys() = default;
};

// console may be null, or a console without a ConsoleKeys side (no keys
// to wait on then).
std::unique_ptr<Wait> make_wait(Console* console);

}  // namespace qn::platform::win32
