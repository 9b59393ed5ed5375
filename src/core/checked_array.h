// A fixed table whose every access is checked: a wrong index is a bug and
// stops the program with a message rather than writing past the table.
#pragma once

#include <array>
#include <cstddef>

namespace qn {

[[noreturn]] void bounds_failure(long index, long lo, long hi);

template <typename T, std::size_t N>
class CheckedArray {
public:
    static constexpr std::size_t size = N;

    T& operator[](long i) {
        check(i);
        return data_[static_cast<std::size_t>(i)];
    }
    const T& operator[](long i) const {
        check(i);
        return data_[static_cast<std::size_t>(i)];
    }
    static constexpr bool in_range(long i) { return i >= 0 && i < static_cast<long>(N); }
    void fill(const T& v) { data_.fill(v); }
    T* begin() { return data_.data(); }
    T* end() { return data_.data() + N; }
    const T* begin() const { return data_.data(); }
    const T* end() const { return data_.data() + N; }

private:
    static void check(long i) {
        if (!in_range(i)) bounds_failure(i, 0, static_cast<long>(N) - 1);
    }
    std::array<T, N> data_{};
};

}  // namespace qn
