// Typing characters into the window that has the keyboard focus.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qn {

struct Context;

extern const std::array<std::uint16_t, 10> NUMBERS;
extern const std::array<std::uint16_t, 2> MINUSEQUALS;
extern const std::array<std::uint16_t, 27> ALPHABET;  // [1..26]

void SENDTEXT(Context& c, std::string_view value);
std::uint16_t VIRTUALKEYCODE(char ch);
std::uint16_t SCANCODELIST(char ch);

}  // namespace qn
