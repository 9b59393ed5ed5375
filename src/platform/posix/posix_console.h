// The console on an ANSI terminal (or on plain pipes, for output and keys).
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/console.h"

namespace qn::platform::posix {

// PC scan codes of the extended keys, the second code after a 0.
namespace scan {
inline constexpr int F1 = 59;  // F1..F10 are 59..68
inline constexpr int Home = 71;
inline constexpr int Up = 72;
inline constexpr int PageUp = 73;
inline constexpr int Left = 75;
inline constexpr int Centre = 76;
inline constexpr int Right = 77;
inline constexpr int End = 79;
inline constexpr int Down = 80;
inline constexpr int PageDown = 81;
inline constexpr int Insert = 82;
inline constexpr int Delete = 83;
inline constexpr int kF11 = 133;
inline constexpr int kF12 = 134;
inline constexpr int Unknown = 0;
}  // namespace scan

class PosixConsole : public Console {
public:
    // The program's console uses 0 and 1; tests hand in a pty.
    PosixConsole(int in_fd, int out_fd) : in_fd_(in_fd), out_fd_(out_fd) {}

    Result<void> open(int rows, int cols) override;
    void close() override;
    void write_cells(int row, int col, const ConsoleCell* cells, int count) override;
    void set_cursor(int row, int col, bool visible) override;
    void present() override;
    bool key_waiting() override;
    int read_key() override;

    // For waiting on the keyboard: the descriptor keys come from (-1 once it
    // has ended), and whether keys were read but not yet taken.
    int input_fd() const { return in_eof_ ? -1 : in_fd_; }
    bool has_buffered() const { return !keys_.empty() || !raw_.empty(); }

private:
    enum : int { kTimeout = -1, kEof = -2 };
    bool fill(int timeout_ms);
    int next_byte(int timeout_ms);
    int decode_escape();
    int decode_csi();
    int extended(int code);

    int in_fd_;
    int out_fd_;
    std::string out_;          // drawn but not yet presented
    std::deque<std::uint8_t> raw_;  // bytes read but not yet decoded
    std::deque<int> keys_;     // decoded keys not yet returned
    bool in_eof_ = false;
};

// Gives the terminal back (termios, colours, cursor, main screen) if a
// console has it. Async-signal-safe and idempotent: the fatal-signal
// handlers, atexit and Process::exit all call it.
void restore_terminal();

}  // namespace qn::platform::posix
