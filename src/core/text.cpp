#include "core/text.h"

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace qn {

std::string str(std::int64_t v) { return std::to_string(v); }
std::string str_u(std::uint64_t v) { return std::to_string(v); }

std::string pad_left(std::string_view s, int width) {
    std::string out;
    if (static_cast<int>(s.size()) < width) out.assign(static_cast<std::size_t>(width) - s.size(), ' ');
    out.append(s);
    return out;
}

std::string pad_int(std::int64_t v, int width) { return pad_left(str(v), width); }

std::string fixed_text(double v, int width, int decimals) {
    // A large value has as many digits as it needs: cut short, it would be
    // written as another number.
    const int length = std::snprintf(nullptr, 0, "%*.*f", width, decimals, v);
    std::string out(static_cast<std::size_t>(length), '\0');
    std::snprintf(out.data(), out.size() + 1, "%*.*f", width, decimals, v);
    return out;
}

std::string exponent(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17E", v);
    return buf;
}

std::string bool_text(bool b) { return b ? "TRUE" : "FALSE"; }

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = upper(c);
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

bool is_upper_letter(char c) { return c >= 'A' && c <= 'Z'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool parse_int32(std::string_view s, std::int32_t* out, std::size_t* bad_pos) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        neg = s[i] == '-';
        ++i;
    }
    std::size_t digits_start = i;
    std::int64_t v = 0;
    while (i < s.size() && is_digit(s[i])) {
        v = v * 10 + (s[i] - '0');
        if (v > static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1) {
            if (bad_pos) *bad_pos = i + 1;
            return false;
        }
        ++i;
    }
    if (i == digits_start || i != s.size()) {
        if (bad_pos) *bad_pos = (i < s.size() ? i : s.size()) + 1;
        return false;
    }
    if (neg) v = -v;
    if (v > std::numeric_limits<std::int32_t>::max() || v < std::numeric_limits<std::int32_t>::min()) {
        if (bad_pos) *bad_pos = i;
        return false;
    }
    *out = static_cast<std::int32_t>(v);
    return true;
}

bool parse_double(std::string_view s, double* out) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    std::string t(s.substr(i));
    if (t.empty()) return false;
    // Only plain decimal forms: no hex floats, no inf/nan words.
    for (char c : t)
        if (!(is_digit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E')) return false;
    char* end = nullptr;
    errno = 0;
    double v = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || errno == ERANGE || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

std::string underscores_to_spaces(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        if (ch == '_') ch = ' ';
    return out;
}

std::string date_time_text(platform::Files& files) {
    const platform::LocalDateTime dt = files.now();
    return dt.date + " " + dt.time_of_day;
}

}  // namespace qn
