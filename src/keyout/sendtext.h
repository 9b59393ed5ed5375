// Typing characters into the window that has the keyboard focus.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace qn {

struct Context;

extern const std::array<std::uint16_t, 10> kDigits;
extern const std::array<std::uint16_t, 2> kMinusEquals;
extern const std::array<std::uint16_t, 27> kAlphabet;  // [1..26]

void type_text(Context& c, std::string_view value);
std::uint16_t virtual_key_code(char ch);
std::uint16_t kScanCodes(char ch);

}  // namespace qn
