#include "console/screen.h"

#include <algorithm>
#include <string>
#include <vector>

namespace qn {

Screen::Screen() { cells_.fill(Cell{' ', fg_, bg_}); }

void Screen::window(int x1, int y1, int x2, int y2) {
    if (x1 < 1 || y1 < 1 || x2 > kCols || y2 > kRows || x1 > x2 || y1 > y2) return;
    x1_ = x1;
    y1_ = y1;
    x2_ = x2;
    y2_ = y2;
    cx_ = 1;
    cy_ = 1;
    changed();
}

void Screen::clear_window() {
    for (int y = y1_; y <= y2_; ++y)
        for (int x = x1_; x <= x2_; ++x) cell(y, x) = Cell{' ', fg_, bg_};
    cx_ = 1;
    cy_ = 1;
    ++version_;
    changed();
}

void Screen::clear_to_line_end() {
    int y = y1_ + cy_ - 1;
    for (int x = x1_ + cx_ - 1; x <= x2_; ++x) cell(y, x) = Cell{' ', fg_, bg_};
    ++version_;
    changed();
}

void Screen::move_to(int x, int y) {
    if (x < 1 || y < 1 || x > x2_ - x1_ + 1 || y > y2_ - y1_ + 1) return;
    cx_ = x;
    cy_ = y;
    changed();
}

void Screen::cursor_visible(bool on) {
    cursor_on_ = on;
    changed();
}

void Screen::scroll_up() {
    for (int y = y1_; y < y2_; ++y)
        for (int x = x1_; x <= x2_; ++x) cell(y, x) = cell(y + 1, x);
    for (int x = x1_; x <= x2_; ++x) cell(y2_, x) = Cell{' ', fg_, bg_};
}

void Screen::line_feed() {
    if (y1_ + cy_ - 1 >= y2_)
        scroll_up();
    else
        ++cy_;
}

void Screen::put(std::uint8_t ch) {
    switch (ch) {
    case '\n':
        cx_ = 1;
        line_feed();
        return;
    case '\r':
        cx_ = 1;
        return;
    case '\b':
        if (cx_ > 1) --cx_;
        return;
    case 7:
        return;
    default:
        break;
    }
    cell(y1_ + cy_ - 1, x1_ + cx_ - 1) = Cell{ch, fg_, bg_};
    if (x1_ + cx_ - 1 >= x2_) {
        cx_ = 1;
        line_feed();
    } else {
        ++cx_;
    }
}

void Screen::write(std::string_view s) {
    for (char c : s) put(static_cast<std::uint8_t>(c));
    ++version_;
    changed();
}

void Screen::newline() { write("\n"); }

const Cell& Screen::at(int line, int col) const {
    static const Cell outside{};
    if (line < 1 || line > kRows || col < 1 || col > kCols) return outside;
    return cells_[(line - 1) * kCols + (col - 1)];
}

std::string Screen::text(int line, int col, int len) const {
    std::string s;
    for (int i = 0; i < len && col + i <= kCols; ++i) s.push_back(static_cast<char>(at(line, col + i).ch));
    return s;
}

std::string Screen::line_text(int line) const { return text(line, 1, kCols); }

void Screen::attach(platform::Console* device) {
    device_ = device;
    size_ = {};
    shown_valid_ = false;
    cursor_shown_row_ = -1;
    changed();
}

void Screen::changed() {
    dirty_ = true;
    if (auto_present_ && device_) present();
}

void Screen::present() {
    // Called before every wait of the program: with nothing new it must
    // cost nothing.
    if (!device_) return;
    if (take_new_size()) dirty_ = true;
    if (!dirty_) return;
    dirty_ = false;
    if (size_.rows > 0 && (size_.rows < kRows + size_.extra_rows || size_.cols < kCols)) {
        device_->present();  // the notice stays until the size changes
        return;
    }
    for (int row = 0; row < kRows; ++row) {
        int col = 0;
        while (col < kCols) {
            auto to_console = [&](int c) {
                const Cell& k = cells_[row * kCols + c];
                return platform::ConsoleCell{k.ch, static_cast<std::uint8_t>((k.bg << 4) | k.fg)};
            };
            if (shown_valid_ && shown_[row * kCols + col] == to_console(col)) {
                ++col;
                continue;
            }
            int start = col;
            std::array<platform::ConsoleCell, kCols> run{};
            int n = 0;
            while (col < kCols && !(shown_valid_ && shown_[row * kCols + col] == to_console(col))) {
                run[n] = to_console(col);
                shown_[row * kCols + col] = run[n];
                ++n;
                ++col;
            }
            device_->write_cells(row, start, run.data(), n);
        }
    }
    shown_valid_ = true;
    int crow = cursor_line() - 1, ccol = cursor_col() - 1;
    if (crow != cursor_shown_row_ || ccol != cursor_shown_col_ || cursor_on_ != cursor_shown_on_) {
        device_->set_cursor(crow, ccol, cursor_on_);
        cursor_shown_row_ = crow;
        cursor_shown_col_ = ccol;
        cursor_shown_on_ = cursor_on_;
    }
    device_->present();
}

// Whatever the console showed is blanked; what it is to show comes next:
// the whole screen, or, when it is too small, what it needs.
bool Screen::take_new_size() {
    const platform::ConsoleSize now = device_->size();
    if (now == size_) return false;
    size_ = now;
    shown_valid_ = false;
    cursor_shown_row_ = -1;
    if (size_.rows <= 0) return true;
    const std::vector<platform::ConsoleCell> blank(static_cast<std::size_t>(size_.cols), platform::ConsoleCell{' ', 0x07});
    for (int row = 0; row < size_.rows; ++row) device_->write_cells(row, 0, blank.data(), size_.cols);
    if (size_.rows < kRows + size_.extra_rows || size_.cols < kCols) show_too_small();
    return true;
}

// One sentence, broken into the lines the console has at blanks.
void Screen::show_too_small() {
    const std::string text = "This window is " + std::to_string(size_.cols) + "x" + std::to_string(size_.rows) +
                             " but Quennick needs " + std::to_string(kCols) + "x" +
                             std::to_string(kRows + size_.extra_rows) +
                             " (columns x lines): make it larger. Ringing goes on meanwhile.";
    std::size_t at = 0;
    for (int row = 0; row < size_.rows && at < text.size(); ++row) {
        std::size_t len = std::min(text.size() - at, static_cast<std::size_t>(size_.cols));
        if (at + len < text.size()) {
            const std::size_t blank = text.rfind(' ', at + len);
            if (blank != std::string::npos && blank > at) len = blank - at;
        }
        std::vector<platform::ConsoleCell> cells;
        for (std::size_t i = 0; i < len; ++i)
            cells.push_back(platform::ConsoleCell{static_cast<std::uint8_t>(text[at + i]), (kBlue << 4) | kYellow});
        device_->write_cells(row, 0, cells.data(), static_cast<int>(cells.size()));
        at += len;
        while (at < text.size() && text[at] == ' ') ++at;
    }
    device_->set_cursor(0, 0, false);
}

}  // namespace qn
