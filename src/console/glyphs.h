// The big counter's digit glyphs: each digit 18 rows of 19 columns, "*" on
// blank, drawn into a 19-column window so that one joined string fills the
// glyph.
#pragma once

#include <array>
#include <string>

namespace qn {

class BigDigits {
public:
    static constexpr int kWidth = 19;
    static constexpr int kRows = 18;

    BigDigits();

    // Row r (from 0) of a digit's glyph.
    const std::string& row(int digit, int r) const { return rows_[digit][r]; }
    // A digit's rows one after another.
    const std::string& joined(int digit) const { return joined_[digit]; }

private:
    std::array<std::array<std::string, kRows>, 10> rows_;
    std::array<std::string, 10> joined_;
};

}  // namespace qn
