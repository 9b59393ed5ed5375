#include "platform/ansi.h"

namespace qn::platform::ansi {

namespace {

// Code page 1252 bytes 0x80..0x9F; 0 marks the unassigned ones.
constexpr char16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Windows attribute colour order (blue is bit 0) to ANSI order (red is bit 0).
constexpr int kAnsiColour[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void append_sgr(std::string& out, std::uint8_t attr) {
    int fg = attr & 0x0F, bg = (attr >> 4) & 0x0F;
    out += "\x1b[";
    out += std::to_string((fg & 8 ? 90 : 30) + kAnsiColour[fg & 7]);
    out += ';';
    out += std::to_string((bg & 8 ? 100 : 40) + kAnsiColour[bg & 7]);
    out += 'm';
}

}  // namespace

static void append_utf8(std::string& out, std::uint8_t ch) {
    char32_t cp = ch;
    if (ch >= 0x80 && ch <= 0x9F) cp = kCp1252High[ch - 0x80] ? kCp1252High[ch - 0x80] : U'?';
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

void append_cp1252(std::string& out, std::uint8_t ch) {
    append_utf8(out, ch < 0x20 || ch == 0x7F ? std::uint8_t{' '} : ch);
}

std::string cp1252_to_utf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) append_utf8(out, static_cast<std::uint8_t>(ch));
    return out;
}

// One UTF-8 sequence at text[i]: its code point and length, or false when
// the bytes there are no well-formed sequence.
static bool decode_utf8(std::string_view text, std::size_t i, char32_t& cp, std::size_t& len) {
    const auto b = [&](std::size_t k) { return static_cast<std::uint8_t>(text[i + k]); };
    const std::uint8_t lead = b(0);
    len = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (len == 0 || i + len > text.size()) return false;
    cp = lead & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((b(k) & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    const char32_t least = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
    return cp >= least && cp <= 0x10FFFF && !(cp >= 0xD800 && cp <= 0xDFFF);
}

std::string utf8_to_cp1252(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const auto ch = static_cast<std::uint8_t>(text[i]);
        char32_t cp = 0;
        std::size_t len = 0;
        if (ch < 0x80 || !decode_utf8(text, i, cp, len)) {
            out.push_back(static_cast<char>(ch));  // ASCII, or a byte of some older encoding: as it is
            ++i;
            continue;
        }
        i += len;
        char byte = '?';
        if (cp >= 0xA0 && cp <= 0xFF) byte = static_cast<char>(cp);
        for (std::size_t k = 0; k < 32; ++k)
            if (cp >= 0x100 && kCp1252High[k] == cp) byte = static_cast<char>(0x80 + k);
        out.push_back(byte);
    }
    return out;
}

std::string cells(int row, int col, const ConsoleCell* c, int count) {
    std::string out = "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
    int last_attr = -1;
    for (int i = 0; i < count; ++i) {
        if (c[i].attr != last_attr) {
            append_sgr(out, c[i].attr);
            last_attr = c[i].attr;
        }
        append_cp1252(out, c[i].ch);
    }
    return out;
}

std::string cursor(int row, int col, bool visible) {
    std::string out = "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H";
    out += visible ? "\x1b[?25h" : "\x1b[?25l";
    return out;
}

std::string reset() { return "\x1b[0m\x1b[?25h\x1b[2J\x1b[H"; }

}  // namespace qn::platform::ansi
