// The sixteen colours of a text console.
#pragma once

#include <cstdint>

namespace qn {

enum Colour : std::uint8_t {
    kBlack = 0, kBlue = 1, kGreen = 2, kCyan = 3, kRed = 4, kMagenta = 5, kBrown = 6,
    kLightGray = 7, kDarkGray = 8, kLightBlue = 9, kLightGreen = 10, kLightCyan = 11,
    kLightRed = 12, kLightMagenta = 13, kYellow = 14, kWhite = 15,
};

}  // namespace qn
