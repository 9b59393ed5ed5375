// Number and text formatting in the program's own styles: plain decimals,
// right-aligned fields, fixed decimals, TRUE/FALSE.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace qn {

std::string str(std::int64_t v);
std::string str_u(std::uint64_t v);
// v right-aligned in width characters (wider values are not cut).
std::string pad_int(std::int64_t v, int width);
// v with decimals digits after the point, right-aligned in width.
std::string fixed_text(double v, int width, int decimals);
// Exponent notation that reads back to the same double.
std::string exponent(double v);
std::string pad_left(std::string_view s, int width);
std::string bool_text(bool b);  // "TRUE" / "FALSE"
std::string upper(std::string_view s);
std::string lower(std::string_view s);
char upper(char c);
bool is_upper_letter(char c);
bool is_digit(char c);
// Settings keep names with spaces as underscores.
std::string underscores_to_spaces(std::string_view s);
// The local date and time, "2026-12-08 04:45:00".
std::string date_time_text(platform::Files& files);
// Strict conversions of a whole text; leading blanks accepted.
// On failure *bad_pos gets the 1-based position of the first unusable character.
bool parse_int32(std::string_view s, std::int32_t* out, std::size_t* bad_pos = nullptr);
bool parse_double(std::string_view s, double* out);

}  // namespace qn
