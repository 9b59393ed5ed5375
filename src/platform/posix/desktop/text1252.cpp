#include "platform/posix/desktop/text1252.h"

#include <cstdint>

namespace qn::platform::posix {

namespace {

// Code points of 0x80..0x9F in code page 1252 (0: not assigned).
constexpr std::uint16_t kHigh[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                     0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                     0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                     0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char to_1252(std::uint32_t cp) {
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<char>(cp);
    for (int i = 0; i < 32; ++i)
        if (kHigh[i] != 0 && kHigh[i] == cp) return static_cast<char>(0x80 + i);
    return '?';
}

// Decodes one character at text[i]; advances i. Returns 0xFFFFFFFF for a
// malformed sequence, of which one byte is used up.
std::uint32_t next_code_point(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i++]);
    if (b0 < 0x80) return b0;
    int extra = 0;
    std::uint32_t cp = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
    } else {
        return 0xFFFFFFFF;
    }
    std::size_t j = i;
    for (int k = 0; k < extra; ++k, ++j) {
        if (j >= text.size()) return 0xFFFFFFFF;
        const auto b = static_cast<unsigned char>(text[j]);
        if ((b & 0xC0) != 0x80) return 0xFFFFFFFF;
        cp = (cp << 6) | (b & 0x3F);
    }
    // Overlong forms and surrogates are not characters.
    static constexpr std::uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0xFFFFFFFF;
    i = j;
    return cp;
}

}  // namespace

std::string utf8_to_cp1252(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::uint32_t cp = next_code_point(utf8, i);
        out += cp == 0xFFFFFFFF ? '?' : to_1252(cp);
    }
    return out;
}

std::string latin1_to_cp1252(std::string_view latin1) {
    std::string out(latin1);
    for (char& ch : out) {
        const auto b = static_cast<unsigned char>(ch);
        if (b >= 0x80 && b < 0xA0) ch = '?';
    }
    return out;
}

}  // namespace qn::platform::posix
