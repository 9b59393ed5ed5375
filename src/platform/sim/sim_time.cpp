#include "platform/sim/sim_time.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace qn::platform::sim {

void SimTime::sleep_us(std::int64_t us) {
    std::unique_lock<std::mutex> lk(mu_);
    const std::int64_t until = now_us() + std::max<std::int64_t>(us, 0);
    while (!stopped_ && now_us() < until) wait(lk, until, false);
}

std::int64_t SimTime::now_locked() {
    std::lock_guard<std::mutex> g(mu_);
    return now_us();
}

// ---- real time ------------------------------------------------------------------

RealTime::RealTime() : origin_(std::chrono::steady_clock::now()) {}

std::int64_t RealTime::now_us() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - origin_)
        .count();
}

void RealTime::wait(std::unique_lock<std::mutex>& lk, std::int64_t until, bool wake_on_change) {
    if (stopped_) return;
    std::condition_variable& cv = wake_on_change ? change_cv_ : sleep_cv_;
    if (until == kNever)
        cv.wait(lk);
    else
        cv.wait_until(lk, origin_ + std::chrono::microseconds(until));
}

void RealTime::stop() {
    std::lock_guard<std::mutex> g(mu_);
    stopped_ = true;
    change_cv_.notify_all();
    sleep_cv_.notify_all();
}

// ---- virtual time ---------------------------------------------------------------

struct VirtualTime::Participant {
    std::condition_variable cv;
    std::int64_t wake = 0;
    bool waiting = false;        // in wait(), or not started yet
    bool wake_on_change = false;
    bool turn = false;           // this one runs
    bool suspended = false;
    bool done = false;
    int rank = 0;                // at equal times the lower rank runs first
    int order = 0;
};

namespace {

struct Membership {
    const VirtualTime* time = nullptr;
    VirtualTime::Participant* part = nullptr;
};
thread_local Membership t_member;

[[noreturn]] void fatal(const char* what) {
    std::fprintf(stderr, "quennick-sim: virtual time: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

}  // namespace

VirtualTime::VirtualTime(std::int64_t read_step_us) : read_step_us_(read_step_us) {}

VirtualTime::~VirtualTime() {
    if (t_member.time == this) t_member = {};
}

VirtualTime::Participant* VirtualTime::self() const {
    return t_member.time == this ? t_member.part : nullptr;
}

// Lock not held.
void VirtualTime::run_main_hook(bool waiting) {
    in_main_hook_ = true;
    main_hook_(now_locked(), waiting);
    in_main_hook_ = false;
}

std::int64_t VirtualTime::read_clock() {
    if (main_hook_ && !in_main_hook_) {
        const Participant* me = self();
        if (me && me->rank == 1) run_main_hook(false);
    }
    std::lock_guard<std::mutex> g(mu_);
    now_ += read_step_us_;
    return now_;
}

void VirtualTime::adopt_current_thread() {
    std::lock_guard<std::mutex> g(mu_);
    parts_.push_back(std::make_unique<Participant>());
    Participant* p = parts_.back().get();
    p->rank = 1;
    p->order = static_cast<int>(parts_.size());
    p->turn = true;
    t_member = {this, p};
}

VirtualTime::Participant* VirtualTime::add_thread() {
    std::lock_guard<std::mutex> g(mu_);
    parts_.push_back(std::make_unique<Participant>());
    Participant* p = parts_.back().get();
    p->order = static_cast<int>(parts_.size());
    p->waiting = true;
    p->wake = now_;
    return p;
}

void VirtualTime::enter(Participant* p) {
    std::unique_lock<std::mutex> lk(mu_);
    t_member = {this, p};
    p->cv.wait(lk, [&] { return p->turn || stopped_; });
    p->waiting = false;
}

void VirtualTime::leave(Participant* p) {
    std::unique_lock<std::mutex> lk(mu_);
    p->done = true;
    p->waiting = false;
    const bool had_turn = p->turn;
    p->turn = false;
    if (had_turn && !stopped_) pass_turn();
    t_member = {};
}

// The waiter whose time comes first gets the turn, and the clock moves to
// its time. Nobody left to run means the program waits for something that
// can never come.
void VirtualTime::pass_turn() {
    Participant* best = nullptr;
    for (auto& up : parts_) {
        Participant* p = up.get();
        if (p->done || p->suspended || !p->waiting) continue;
        if (!best || p->wake < best->wake ||
            (p->wake == best->wake && (p->rank < best->rank || (p->rank == best->rank && p->order < best->order))))
            best = p;
    }
    if (!best || best->wake == kNever) fatal("every thread waits for ever");
    now_ = std::max(now_, best->wake);
    best->turn = true;
    best->cv.notify_one();
}

void VirtualTime::wait(std::unique_lock<std::mutex>& lk, std::int64_t until, bool wake_on_change) {
    if (stopped_) return;
    Participant* me = self();
    if (!me) fatal("a thread that does not take part waited");
    me->wake = until;
    me->wake_on_change = wake_on_change;
    me->waiting = true;
    me->turn = false;
    if (main_hook_ && me->rank == 1 && !in_main_hook_) {
        lk.unlock();
        run_main_hook(true);
        lk.lock();
        if (stopped_) {
            me->waiting = false;
            return;
        }
    }
    pass_turn();
    me->cv.wait(lk, [&] { return me->turn || stopped_; });
    me->waiting = false;
}

void VirtualTime::changed() {
    for (auto& p : parts_)
        if (p->waiting && p->wake_on_change && p->wake > now_) p->wake = now_;
}

void VirtualTime::yield() {
    std::unique_lock<std::mutex> lk(mu_);
    if (stopped_) return;
    Participant* me = self();
    if (!me) return;
    for (auto& p : parts_) {
        if (p.get() == me || p->done || p->suspended || !p->waiting || p->wake > now_) continue;
        wait(lk, now_, false);
        return;
    }
}

void VirtualTime::set_suspended(Participant* p, bool suspended) {
    std::lock_guard<std::mutex> g(mu_);
    p->suspended = suspended;
}

void VirtualTime::stop() {
    std::lock_guard<std::mutex> g(mu_);
    stopped_ = true;
    for (auto& p : parts_) p->cv.notify_all();
}

}  // namespace qn::platform::sim
