// Threads, sleeping and the system timer resolution.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/result.h"

namespace qn::platform {

using ThreadHandle = std::uintptr_t;

// Windows thread priority values; the portable API keeps them.
inline constexpr int kPriorityNormal = 0;
inline constexpr int kPriorityTimeCritical = 15;

struct ThreadInfo {
    ThreadHandle handle = 0;
    std::uint32_t id = 0;
};

class Threads {
public:
    virtual ~Threads() = default;

    // The thread runs body and ends with it (or with the process).
    virtual Result<ThreadInfo> create(std::function<void()> body) = 0;
    virtual Result<void> set_priority(ThreadHandle h, int priority) = 0;
    virtual Result<int> get_priority(ThreadHandle h) = 0;
    virtual Result<void> suspend(ThreadHandle h) = 0;
    virtual Result<void> resume(ThreadHandle h) = 0;

    // 0 gives up the rest of the time slice.
    virtual void sleep_ms(std::int32_t ms) = 0;

    // Sleep(1) must mean about 1 ms for the life of the process.
    virtual Result<void> raise_timer_resolution() = 0;
};

}  // namespace qn::platform
