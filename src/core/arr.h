// Fixed tables indexed Lo..Hi as the program's tables are numbered (slot 0 of
// the ring, rows from -6). Every access is checked: a wrong index is a bug and
// stops the program with a message rather than writing past a table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace qn {

[[noreturn]] void bounds_failure(long index, long lo, long hi);

template <typename T, long Lo, long Hi>
class Arr {
    static_assert(Hi >= Lo);

public:
    static constexpr long lo = Lo;
    static constexpr long hi = Hi;
    static constexpr std::size_t size = static_cast<std::size_t>(Hi - Lo + 1);

    T& operator[](long i) {
        if (i < Lo || i > Hi) bounds_failure(i, Lo, Hi);
        return data_[static_cast<std::size_t>(i - Lo)];
    }
    const T& operator[](long i) const {
        if (i < Lo || i > Hi) bounds_failure(i, Lo, Hi);
        return data_[static_cast<std::size_t>(i - Lo)];
    }
    static constexpr bool in_range(long i) { return i >= Lo && i <= Hi; }
    void fill(const T& v) { data_.fill(v); }
    T* begin() { return data_.data(); }
    T* end() { return data_.data() + size; }
    const T* begin() const { return data_.data(); }
    const T* end() const { return data_.data() + size; }

private:
    std::array<T, size> data_{};
};

}  // namespace qn
