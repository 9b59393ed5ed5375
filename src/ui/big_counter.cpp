#include "ui/big_counter.h"

#include <algorithm>

#include "console/screen.h"
#include "console/glyphs.h"
#include "console/layout.h"

namespace qn {

namespace {

constexpr int kGlyphColumns = BigDigits::kWidth;
constexpr int kThousandsColumn = 1;
constexpr int kHundredsColumn = 21;
constexpr int kTensColumn = 41;
constexpr int kUnitsColumn = 61;

}  // namespace

// One string into a glyph-wide window: the wrap puts each row on its line.
void draw_glyph(Screen& screen, const std::string& rows, int x, int y) {
    screen.window(x, y, x + kGlyphColumns - 1, y + kGlyphColumns - 1);
    screen.write(rows);
    screen.window(1, 1, Screen::kCols, Screen::kRows);
}

// One position of the counter: drawn when it is shown and, outside a
// repaint, only when its digit differs from the one last drawn there.
void BigCounter::draw_position(int column, int digit, bool shown, bool repaint, std::int32_t& last) {
    if (!shown || (!repaint && digit == last)) return;
    draw_glyph(screen_, digits_.joined(digit), column, 1);
    last = digit;
}

// Leading zeros are left blank. Which positions are shown is judged on the
// whole count, so that from 10000 on the last four digits all stay drawn and
// no glyph of 9999 is left standing when the count rolls over.
void BigCounter::draw_digits(std::int32_t count, bool repaint) {
    const std::int32_t n = std::max<std::int32_t>(count, 0);
    draw_position(kThousandsColumn, n / 1000 % 10, n >= 1000, repaint, thousands_);
    draw_position(kHundredsColumn, n / 100 % 10, n >= 100, repaint, hundreds_);
    draw_position(kTensColumn, n / 10 % 10, n >= 10, repaint, tens_);
    draw_glyph(screen_, digits_.joined(n % 10), kUnitsColumn, 1);
}

void BigCounter::repaint(std::int32_t count) {
    screen_.window(1, 1, Screen::kCols, kBigNumberLastLine);
    screen_.clear_window();
    screen_.text_colour(kWhite);
    draw_digits(count, true);
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
    screen_.move_to(1, 21);
    screen_.write("N Toggle big numbers: in-service calibration menu, when Big Numbers OFF. Q=Quit");
}

void BigCounter::touch_started(const TouchStarted&) {
    tens_ = 0;
    hundreds_ = 0;
    thousands_ = -1;
}

std::int32_t BigCounter::shown(int position) const {
    switch (position) {
    case 1: return tens_;
    case 2: return hundreds_;
    case 3: return thousands_;
    default: return -1;
    }
}

}  // namespace qn
