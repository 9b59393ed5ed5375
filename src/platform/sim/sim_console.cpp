#include "platform/sim/sim_console.h"

#include <vector>

namespace qn::platform::sim {

namespace {

// Light green on black: plainly not part of the program's blue screen.
constexpr std::uint8_t kStatusAttr = 0x0A;
constexpr std::int64_t kKeyPollUs = 1000;

}  // namespace

SimConsole::SimConsole(SimTime& time, Console* terminal, KeySource* source)
    : time_(time), terminal_(terminal), source_(source) {}

Result<void> SimConsole::open(int rows, int cols) {
    rows_ = rows;
    cols_ = cols;
    open_ = true;
    shown_.assign(static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols), ConsoleCell{});
    {
        std::lock_guard<std::mutex> g(status_mu_);
        status_dirty_ = true;
    }
    // Output that is no terminal (a file, a pipe) would get the screen's
    // escape stream: the screen is kept here only, and the keys still read.
    drawn_ = terminal_ && terminal_->size().rows > 0;
    return drawn_ ? terminal_->open(rows + 1, cols) : Result<void>{};
}

void SimConsole::close() {
    open_ = false;
    if (drawn_) terminal_->close();
}

void SimConsole::write_cells(int row, int col, const ConsoleCell* cells, int count) {
    for (int i = 0; i < count && row >= 0 && row < rows_ && col + i >= 0 && col + i < cols_; ++i)
        shown_[static_cast<std::size_t>(row * cols_ + col + i)] = cells[i];
    if (drawn_) terminal_->write_cells(row, col, cells, count);
}

void SimConsole::set_cursor(int row, int col, bool visible) {
    if (drawn_) terminal_->set_cursor(row, col, visible);
}

void SimConsole::set_status(const std::string& text) {
    std::lock_guard<std::mutex> g(status_mu_);
    if (text == status_) return;
    status_ = text;
    status_dirty_ = true;
}

ConsoleSize SimConsole::size() {
    if (!drawn_) return {};
    ConsoleSize s = terminal_->size();
    if (s.rows > 0) s.extra_rows += 1;
    if (!(s == size_)) {
        size_ = s;  // the program draws its screen afresh, and the status line goes with it
        std::lock_guard<std::mutex> g(status_mu_);
        status_dirty_ = true;
    }
    return s;
}

void SimConsole::draw_status() {
    std::string text;
    {
        std::lock_guard<std::mutex> g(status_mu_);
        if (!status_dirty_) return;
        status_dirty_ = false;
        text = status_;
    }
    if (!drawn_ || !open_) return;
    if (size_.rows > 0 && (size_.rows < rows_ + 1 || size_.cols < cols_)) return;  // the program says it is too small
    text.resize(static_cast<std::size_t>(cols_), ' ');
    std::vector<ConsoleCell> cells;
    for (char ch : text) cells.push_back(ConsoleCell{static_cast<std::uint8_t>(ch), kStatusAttr});
    terminal_->write_cells(rows_, 0, cells.data(), static_cast<int>(cells.size()));
}

void SimConsole::present() {
    draw_status();
    if (drawn_) terminal_->present();
}

bool SimConsole::key_waiting() {
    time_.yield();
    if (source_) {
        source_->poll();
        if (source_->key_ready()) return true;
    }
    return terminal_ && terminal_->key_waiting();
}

bool SimConsole::input_ended() {
    if (terminal_ && !terminal_->input_ended()) return false;
    return !source_ || source_->input_ended();
}

// Blocking, like a console's: both keyboards are watched while it waits.
int SimConsole::read_key() {
    for (;;) {
        if (source_) {
            source_->poll();
            if (source_->key_ready()) return source_->take_key();
        }
        if (terminal_ && terminal_->key_waiting()) return terminal_->read_key();
        time_.sleep_us(kKeyPollUs);
    }
}

}  // namespace qn::platform::sim
