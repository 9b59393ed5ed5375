// The big-digit glyphs: each digit 18 rows of 19 characters, "*" on blank,
// drawn into a 19-column window so that one joined string fills the glyph.
#include <array>
#include <string>
#include <string_view>

#include "console/bignumber.h"
#include "core/context.h"

namespace qn {

namespace {

constexpr int kGlyphWidth = 19;
constexpr int kGlyphRows = 18;

// The columns (1..19) holding "*", per glyph row and digit 0..9.
// The 9's bottom rows were once a character short, which made the bottom of
// the 9 lean when it wrapped in its window; every row here is full width.
constexpr std::array<std::array<std::string_view, 10>, kGlyphRows> kStarColumns = {{
    {"8-11", "9-11", "7-11", "4-17", "13-15", "4-17", "9-13", "3-18", "7-12", "7-14"},
    {"6-13", "6-11", "4-13", "4-17", "10-15", "4-17", "7-16", "3-18", "5-15", "5-16"},
    {"5-7,12-14", "5-7,9-11", "3-6,11-15", "14-16", "9-11,13-15", "4-6", "5-8,14-17", "15-18", "4-6,13-16",
     "3-5,14-17"},
    {"4-6,13-15", "9-11", "14-16", "13-15", "8-10,13-15", "4-6", "4-6", "15-18", "4-6,15-17", "2-4,16-18"},
    {"3-5,14-16", "9-11", "15-17", "12-14", "7-9,13-15", "4-6", "4-6", "15-18", "3-5,15-17", "2-4,16-18"},
    {"3-5,14-16", "9-11", "15-17", "11-13", "6-8,13-15", "4-6", "3-5", "15-18", "4-6,14-16", "2-4,15-18"},
    {"2-4,15-17", "9-11", "15-17", "8-12", "5-7,13-15", "4-8", "3-8", "14-17", "6-10,12-15", "3-6,14-18"},
    {"2-4,15-17", "9-11", "15-17", "7-12", "4-6,13-15", "7-14", "3-14", "13-16", "7-14", "5-18"},
    {"2-4,15-17", "9-11", "14-16", "8-13", "3-5,13-16", "11-15", "2-5,13-16", "12-15", "6-9,12-14", "8-18"},
    {"2-4,15-17", "9-11", "13-15", "12-15", "3-18", "14-17", "2-5,15-17", "11-14", "5-7,14-16", "16-18"},
    {"2-4,15-17", "9-11", "11-13", "14-16", "2-18", "16-18", "2-4,16-18", "10-13", "3-5,15-17", "16-18"},
    {"2-4,15-17", "9-11", "9-11", "16-18", "13-15", "16-18", "2-4,16-18", "9-12", "3-5,16-18", "16-18"},
    {"3-5,14-16", "9-11", "7-9", "16-18", "13-15", "16-18", "3-5,16-18", "8-11", "3-5,16-18", "16-18"},
    {"3-5,14-16", "9-11", "5-7", "16-18", "13-15", "16-18", "3-5,16-18", "7-10", "3-5,16-18", "16-18"},
    {"4-6,13-15", "9-11", "4-6", "14-16", "13-15", "15-17", "4-6,16-18", "6-9", "4-6,15-17", "15-17"},
    {"5-7,12-14", "9-11", "4-6", "3-7,12-16", "13-15", "4-7,14-17", "5-8,14-16", "5-8", "5-7,14-16",
     "3-6,13-16"},
    {"6-13", "7-13", "4-17", "4-15", "12-17", "6-15", "7-15", "4-7", "6-15", "5-15"},
    {"8-11", "7-13", "4-17", "7-11", "12-17", "7-13", "8-13", "3-7", "8-14", "7-14"},
}};

// Reads a number at s[i], moving i past it.
int read_number(std::string_view s, std::size_t& i) {
    int v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0');
    return v;
}

std::string glyph_row(std::string_view ranges) {
    std::string row(kGlyphWidth, ' ');
    std::size_t i = 0;
    while (i < ranges.size()) {
        int from = read_number(ranges, i);
        ++i;  // '-'
        int to = read_number(ranges, i);
        ++i;  // ',' or the end
        for (int col = from; col <= to && col <= kGlyphWidth; ++col) row[static_cast<std::size_t>(col - 1)] = '*';
    }
    return row;
}

}  // namespace

void set_up_glyphs(Context& c) {
    for (int digit = 0; digit <= 9; ++digit) {
        for (int r = 1; r <= kGlyphRows; ++r)
            c.con.glyphs[digit][r] = glyph_row(kStarColumns[static_cast<std::size_t>(r - 1)][static_cast<std::size_t>(digit)]);
        c.con.glyphs[digit][19].clear();
        c.con.glyphs[digit][20].clear();
    }
}

void set_up_digit_rows(Context& c) {
    for (int digit = 0; digit <= 9; ++digit) {
        std::string& s = c.con.digit_rows[digit];
        s.clear();
        for (int r = 1; r <= kGlyphRows; ++r) s += c.con.glyphs[digit][r];
    }
}

}  // namespace qn
