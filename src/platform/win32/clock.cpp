#include "platform/win32/win32.h"

#include <cpuid.h>
#include <x86intrin.h>

namespace qn::platform::win32 {

namespace {

constexpr unsigned kCpuidTscBit = 1u << 4;  // CPUID leaf 1, EDX

class Win32Clock final : public Clock {
public:
    Win32Clock() {
        LARGE_INTEGER f;
        // Cannot fail on Windows XP and later; 0 would make every time a division by zero.
        freq_ = QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1;
        unsigned a = 0, b = 0, c = 0, d = 0;
        tsc_ = __get_cpuid(1, &a, &b, &c, &d) && (d & kCpuidTscBit) != 0;
    }

    std::int64_t counter() override {
        LARGE_INTEGER c;
        QueryPerformanceCounter(&c);
        return c.QuadPart;
    }
    std::int64_t frequency() override { return freq_; }
    bool tsc_available() override { return tsc_; }
    std::int64_t tsc() override { return tsc_ ? static_cast<std::int64_t>(__rdtsc()) : 0; }

private:
    std::int64_t freq_ = 1;
    bool tsc_ = false;
};

}  // namespace

std::unique_ptr<Clock> make_clock() { return std::make_unique<Win32Clock>(); }

}  // namespace qn::platform::win32
