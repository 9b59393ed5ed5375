// The 80 x 25 screen model every console write goes to. It behaves like a
// classic text-mode unit: a current window of whole lines that scrolls on its
// own, a cursor relative to that window, a current colour. A console device,
// when attached, is sent only the cells that changed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/colour.h"
#include "core/text_sink.h"
#include "platform/console.h"

namespace qn {

struct Cell {
    std::uint8_t ch = ' ';
    std::uint8_t fg = kLightGray;
    std::uint8_t bg = kBlack;
    bool operator==(const Cell&) const = default;
};

class Screen : public TextSink {
public:
    static constexpr int kRows = 25;
    static constexpr int kCols = 80;

    Screen();

    // Screen coordinates from 1. A window that does not fit is not selected.
    void window(int x1, int y1, int x2, int y2);
    void clear_window();   // current window, current background; cursor to (1,1)
    void clear_to_line_end();
    void move_to(int x, int y);  // relative to the window; outside it: ignored
    int cursor_x() const { return cx_; }
    int cursor_y() const { return cy_; }
    void text_colour(std::uint8_t c) { fg_ = c & 0x0F; }
    void background_colour(std::uint8_t c) { bg_ = c & 0x0F; }
    std::uint8_t text_colour() const { return fg_; }
    std::uint8_t background_colour() const { return bg_; }
    void cursor_visible(bool on);

    // '\n' ends the line (to column 1 of the next), '\r' goes to column 1,
    // '\b' one left; other bytes are drawn. Text wraps at the window's right
    // edge and scrolls the window at its bottom.
    void write(std::string_view s) override;
    void newline() override;

    // Inspection, in screen coordinates from 1.
    const Cell& at(int line, int col) const;
    std::string text(int line, int col, int len) const;
    std::string line_text(int line) const;  // all 80 columns, trailing blanks kept
    int win_top() const { return y1_; }
    int win_bottom() const { return y2_; }
    int win_left() const { return x1_; }
    int win_right() const { return x2_; }
    int cursor_line() const { return y1_ + cy_ - 1; }
    int cursor_col() const { return x1_ + cx_ - 1; }
    bool cursor_is_visible() const { return cursor_on_; }
    // Bumped by every change of a cell, so a watcher can tell the screen moved.
    std::uint64_t version() const { return version_; }

    // The device that shows the model; null for none.
    void attach(platform::Console* device);
    // Sends what changed since the last present. A console too small for
    // the screen shows what size it needs instead; a console whose size
    // changed is drawn afresh.
    void present();
    void set_auto_present(bool on) { auto_present_ = on; }

private:
    void put(std::uint8_t ch);
    void line_feed();
    void scroll_up();
    void changed();
    bool take_new_size();
    void show_too_small();
    Cell& cell(int line, int col) { return cells_[(line - 1) * kCols + (col - 1)]; }

    std::array<Cell, kRows * kCols> cells_{};
    std::array<platform::ConsoleCell, kRows * kCols> shown_{};
    bool shown_valid_ = false;
    int x1_ = 1, y1_ = 1, x2_ = kCols, y2_ = kRows;
    int cx_ = 1, cy_ = 1;
    std::uint8_t fg_ = kLightGray, bg_ = kBlack;
    bool cursor_on_ = true;
    bool cursor_shown_on_ = true;
    int cursor_shown_row_ = -1, cursor_shown_col_ = -1;
    platform::Console* device_ = nullptr;
    platform::ConsoleSize size_;  // the device's, as last seen
    bool auto_present_ = true;
    bool dirty_ = true;  // changed since the last present
    std::uint64_t version_ = 0;
};

}  // namespace qn
