#include "console/screen.h"

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
    if (!device_ || !dirty_) return;
    dirty_ = false;
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

}  // namespace qn
