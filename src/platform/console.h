// The text console: a cell grid the screen model is drawn into, and keys.
#pragma once

#include <cstdint>

#include "platform/result.h"

namespace qn::platform {

// ch is a byte of code page 1252; attr is a Windows text attribute
// (foreground in the low nibble, background in the high nibble).
struct ConsoleCell {
    std::uint8_t ch = ' ';
    std::uint8_t attr = 0x1F;
    bool operator==(const ConsoleCell&) const = default;
};

// The cells a console shows. rows 0: it cannot tell (output to a file or
// a pipe). extra_rows: lines it draws itself under the program's screen.
struct ConsoleSize {
    int rows = 0;
    int cols = 0;
    int extra_rows = 0;
    bool operator==(const ConsoleSize&) const = default;
};

class Console {
public:
    virtual ~Console() = default;

    // Takes the keyboard raw (Ctrl-C arrives as key 3) and sizes the screen.
    virtual Result<void> open(int rows, int cols) = 0;
    // Gives the terminal back as it was; safe to call more than once and
    // from a fatal path.
    virtual void close() = 0;

    // Rows and columns from 0.
    virtual void write_cells(int row, int col, const ConsoleCell* cells, int count) = 0;
    virtual void set_cursor(int row, int col, bool visible) = 0;
    // Makes everything written so far visible.
    virtual void present() = 0;

    virtual bool key_waiting() = 0;
    // Blocking. An extended key (cursor, function) arrives as 0, then its code.
    virtual int read_key() = 0;
    // True once the keys' source has closed for good and every key read from
    // it was taken: no key will ever come (read_key would wait for ever).
    virtual bool input_ended() { return false; }
    // What it shows now; asked before every present, so it must be cheap.
    // A new size leaves what was shown in disorder: it is drawn afresh.
    virtual ConsoleSize size() { return {}; }
};

}  // namespace qn::platform
