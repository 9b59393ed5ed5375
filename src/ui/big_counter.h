// The big row counter: four digit glyphs across rows 1-18 and its hint on
// row 21. It runs after every strike, so it draws only what changed: the
// units glyph, and a higher glyph only when its digit moves on.
#pragma once

#include <cstdint>
#include <string>

#include "core/strike_records.h"

namespace qn {

class Screen;
class BigDigits;

class BigCounter : public StrikeReport {
public:
    BigCounter(Screen& screen, const BigDigits& digits) : screen_(screen), digits_(digits) {}

    // The count, the digits that changed since the last drawing.
    void draw(std::int32_t count) { draw_digits(count, false); }
    // The counter's window cleared and drawn whole, with the hint.
    void repaint(std::int32_t count);
    // A new touch: the digits drawn before are forgotten.
    void touch_started(const TouchStarted&) override;

    // The digit last drawn at a position (1: tens, 2: hundreds, 3:
    // thousands); -1 for none.
    std::int32_t shown(int position) const;

private:
    void draw_digits(std::int32_t count, bool repaint);
    void draw_position(int column, int digit, bool shown, bool repaint, std::int32_t& last);

    Screen& screen_;
    const BigDigits& digits_;
    std::int32_t tens_ = 0;
    std::int32_t hundreds_ = 0;
    std::int32_t thousands_ = -1;
};

// One digit's glyph with its top left corner at column x, line y; the whole
// screen is selected again after it.
void draw_glyph(Screen& screen, const std::string& rows, int x, int y);

}  // namespace qn
