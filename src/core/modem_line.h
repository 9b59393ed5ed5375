// The four modem-status lines a sensor can be wired to, and tables with one
// entry per line.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/serial.h"

namespace qn {

enum class ModemLine { Cts, Dsr, Cd, Ri };

inline constexpr std::size_t kModemLineCount = 4;
inline constexpr std::array<ModemLine, kModemLineCount> kModemLines{ModemLine::Cts, ModemLine::Dsr, ModemLine::Cd,
                                                                    ModemLine::Ri};

// One T per modem line.
template <typename T>
class PerModemLine {
public:
    T& operator[](ModemLine l) { return values_[static_cast<std::size_t>(l)]; }
    const T& operator[](ModemLine l) const { return values_[static_cast<std::size_t>(l)]; }
    void fill(const T& v) { values_.fill(v); }
    bool operator==(const PerModemLine&) const = default;

private:
    std::array<T, kModemLineCount> values_{};
};

// The line's bit in the port's status word.
constexpr std::uint32_t status_bit(ModemLine l) {
    switch (l) {
    case ModemLine::Cts: return platform::kLineCts;
    case ModemLine::Dsr: return platform::kLineDsr;
    case ModemLine::Cd: return platform::kLineCd;
    case ModemLine::Ri: return platform::kLineRi;
    }
    return 0;
}

// "CTS", "DSR", "CD", "RI".
constexpr const char* line_name(ModemLine l) {
    switch (l) {
    case ModemLine::Cts: return "CTS";
    case ModemLine::Dsr: return "DSR";
    case ModemLine::Cd: return "CD";
    case ModemLine::Ri: return "RI";
    }
    return "";
}

// "cts", "dsr", "cd", "ri".
constexpr const char* lower_line_name(ModemLine l) {
    switch (l) {
    case ModemLine::Cts: return "cts";
    case ModemLine::Dsr: return "dsr";
    case ModemLine::Cd: return "cd";
    case ModemLine::Ri: return "ri";
    }
    return "";
}

// Which lines a status word shows on.
inline PerModemLine<bool> lines_on(std::uint32_t status) {
    PerModemLine<bool> on;
    for (ModemLine l : kModemLines) on[l] = (status & status_bit(l)) != 0;
    return on;
}

// A line's state as calibration's tables and the log write it.
inline char line_char(bool on) { return on ? 'T' : 'F'; }

}  // namespace qn
