// The main thread's waits outside the service loop: at a prompt, in a pause.
#pragma once

#include <cstdint>

namespace qn {

class Waiting {
public:
    virtual ~Waiting() = default;
    // Up to ms, or until one of the wake sources (platform/wait.h) fires; a
    // wait that cannot be had is a plain sleep.
    virtual void wait_for(std::int32_t ms, std::uint32_t sources) = 0;
    virtual void sleep_ms(std::int32_t ms) = 0;
};

}  // namespace qn
