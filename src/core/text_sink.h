// Where text lines go: the console's current window, the run log, a file.
#pragma once

#include <string_view>

namespace qn {

class TextSink {
public:
    virtual ~TextSink() = default;
    virtual void write(std::string_view s) = 0;
    virtual void newline() = 0;
    virtual void write_line(std::string_view s = {}) {
        write(s);
        newline();
    }
    // Puts what was written where it is kept (a file); a no-op elsewhere.
    virtual void flush() {}
};

}  // namespace qn
