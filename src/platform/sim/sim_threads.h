// The clock and threads of a run in virtual time. Real-time runs use the
// native ones.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/sim/sim_time.h"
#include "platform/threads.h"

namespace qn::platform::sim {

// Counts microseconds of virtual time.
class VirtualClock : public Clock {
public:
    explicit VirtualClock(VirtualTime& time) : time_(time) {}
    std::int64_t counter() override { return time_.read_clock(); }
    std::int64_t frequency() override { return 1000000; }
    bool tsc_available() override { return false; }
    std::int64_t tsc() override { return 0; }

private:
    VirtualTime& time_;
};

// Real threads that run one at a time, in turn with the program's main
// thread, and sleep in virtual time.
class VirtualThreads : public Threads {
public:
    explicit VirtualThreads(VirtualTime& time) : time_(time) {}
    ~VirtualThreads() override;

    Result<ThreadInfo> create(std::function<void()> body) override;
    Result<void> set_priority(ThreadHandle h, int priority) override;
    Result<int> get_priority(ThreadHandle h) override;
    Result<void> suspend(ThreadHandle h) override;
    Result<void> resume(ThreadHandle h) override;
    void sleep_ms(std::int32_t ms) override;
    Result<void> raise_timer_resolution() override { return {}; }

    // After the time has been stopped: waits for every thread to end.
    void join_all();

private:
    struct Record {
        VirtualTime::Participant* part = nullptr;
        int priority = kPriorityNormal;
        int suspend_count = 0;
    };
    Record* record(ThreadHandle h);

    VirtualTime& time_;
    std::mutex mu_;
    std::vector<Record> records_;
    std::vector<std::thread> threads_;
};

}  // namespace qn::platform::sim
