#include "ui/tower_line.h"

#include <string>

#include "console/screen.h"
#include "core/context.h"
#include "link/tower.h"

namespace qn {

namespace {

constexpr int kLineWithMenu = kScratchFirstLine - 1;
constexpr int kLineWithBigNumbers = kScratchLastLine;

static_assert(kLineColumns == static_cast<std::size_t>(Screen::kCols));

}  // namespace

void show_tower_link(Context& c) {
    if (!take_tower_link_news(c)) return;
    std::string text = tower_link_line(c);
    if (text.size() > static_cast<std::size_t>(Screen::kCols)) text.resize(Screen::kCols);
    text.resize(Screen::kCols, ' ');
    const std::uint8_t colour = tower_link_colour(c);
    const int row = c.cfg.big_numbers ? kLineWithBigNumbers : kLineWithMenu;
    Screen& s = c.screen;
    if (text == c.link.shown && s.line_text(row) == text && s.at(row, 1).fg == colour) return;
    const int l = s.win_left(), t = s.win_top(), r = s.win_right(), b = s.win_bottom();
    const int x = s.cursor_x(), y = s.cursor_y();
    const std::uint8_t fg = s.text_colour();
    s.window(1, 1, Screen::kCols, Screen::kRows);
    s.move_to(1, row);
    s.text_colour(colour);
    // The last column is left alone: writing it would scroll a full window.
    s.write(std::string_view(text).substr(0, Screen::kCols - 1));
    s.text_colour(fg);
    s.window(l, t, r, b);
    s.move_to(x, y);
    c.link.shown = text;
}

}  // namespace qn
