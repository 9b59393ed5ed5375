#include "platform/sim/sim_threads.h"

namespace qn::platform::sim {

VirtualThreads::~VirtualThreads() { join_all(); }

void VirtualThreads::join_all() {
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> g(mu_);
        threads.swap(threads_);
    }
    for (auto& t : threads)
        if (t.joinable()) t.join();
}

VirtualThreads::Record* VirtualThreads::record(ThreadHandle h) {
    if (h == 0 || h > records_.size()) return nullptr;
    return &records_[h - 1];
}

Result<ThreadInfo> VirtualThreads::create(std::function<void()> body) {
    VirtualTime::Participant* p = time_.add_thread();
    std::lock_guard<std::mutex> g(mu_);
    records_.push_back(Record{p});
    const ThreadHandle h = records_.size();
    threads_.emplace_back([this, p, body = std::move(body)] {
        time_.enter(p);
        body();
        time_.leave(p);
    });
    return ThreadInfo{h, static_cast<std::uint32_t>(5000 + h)};
}

Result<void> VirtualThreads::set_priority(ThreadHandle h, int priority) {
    std::lock_guard<std::mutex> g(mu_);
    Record* r = record(h);
    if (!r) return fail("SetThreadPriority: The handle is invalid");
    r->priority = priority;
    return {};
}

Result<int> VirtualThreads::get_priority(ThreadHandle h) {
    std::lock_guard<std::mutex> g(mu_);
    Record* r = record(h);
    if (!r) return fail("GetThreadPriority: The handle is invalid");
    return r->priority;
}

// Only one thread runs at a time, so the one being suspended is waiting:
// it is simply not given the turn until it is resumed.
Result<void> VirtualThreads::suspend(ThreadHandle h) {
    VirtualTime::Participant* p = nullptr;
    {
        std::lock_guard<std::mutex> g(mu_);
        Record* r = record(h);
        if (!r) return fail("SuspendThread: The handle is invalid");
        if (r->suspend_count++ > 0) return {};
        p = r->part;
    }
    time_.set_suspended(p, true);
    return {};
}

Result<void> VirtualThreads::resume(ThreadHandle h) {
    VirtualTime::Participant* p = nullptr;
    {
        std::lock_guard<std::mutex> g(mu_);
        Record* r = record(h);
        if (!r) return fail("ResumeThread: The handle is invalid");
        if (r->suspend_count == 0 || --r->suspend_count > 0) return {};
        p = r->part;
    }
    time_.set_suspended(p, false);
    return {};
}

void VirtualThreads::sleep_ms(std::int32_t ms) { time_.sleep_us(ms > 0 ? std::int64_t{ms} * 1000 : VirtualTime::kSliceUs); }

}  // namespace qn::platform::sim
