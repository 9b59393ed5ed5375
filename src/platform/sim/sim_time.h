// Time for the simulated services. Real time runs on the steady clock; in
// virtual time the clock moves only when every thread of the program waits,
// and exactly one of them runs at a time, so a run is the same every time
// and an hour of ringing takes seconds.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>

namespace qn::platform::sim {

inline constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

class SimTime {
public:
    virtual ~SimTime() = default;

    // One lock for all simulated state: the bell, the ports, the target.
    std::mutex& mutex() { return mu_; }

    // Microseconds since the simulation began. Lock held.
    virtual std::int64_t now_us() = 0;
    // Blocks the calling thread until now_us() >= until or, with
    // wake_on_change, until changed() is called; it may also return early,
    // so callers look again. Lock held on entry and on return. Returns at
    // once once stopped.
    virtual void wait(std::unique_lock<std::mutex>& lk, std::int64_t until, bool wake_on_change) = 0;
    // Something a waiter may be waiting for has changed. Lock held.
    virtual void changed() = 0;
    // Lets the threads whose time has come run first. Lock not held.
    virtual void yield() {}
    // Every wait returns at once from now on, so the threads can be ended.
    // Lock not held.
    virtual void stop() = 0;
    virtual bool is_virtual() const = 0;

    bool stopped() const { return stopped_; }  // lock held
    // Sleeps the calling thread. Lock not held.
    void sleep_us(std::int64_t us);
    std::int64_t now_locked();  // now_us() for a caller without the lock

protected:
    std::mutex mu_;
    bool stopped_ = false;
};

class RealTime : public SimTime {
public:
    RealTime();
    std::int64_t now_us() override;
    void wait(std::unique_lock<std::mutex>& lk, std::int64_t until, bool wake_on_change) override;
    void changed() override { change_cv_.notify_all(); }
    void stop() override;
    bool is_virtual() const override { return false; }

private:
    std::chrono::steady_clock::time_point origin_;
    std::condition_variable change_cv_;
    std::condition_variable sleep_cv_;
};

// The threads that take part: the program's main thread (adopted) and the
// threads the program creates. The one that runs holds the turn; when it
// waits, the turn goes to the waiter whose time comes first (the program's
// own threads before the main thread at equal times, as a time-critical
// thread would be) and the clock jumps to that time.
class VirtualTime : public SimTime {
public:
    struct Participant;

    // Each read of the clock by the program moves it on by this much: code
    // takes time, and a busy wait on the clock must end.
    explicit VirtualTime(std::int64_t read_step_us = 1);
    ~VirtualTime() override;

    std::int64_t now_us() override { return now_; }
    std::int64_t read_clock();  // the program's clock; takes the lock
    void wait(std::unique_lock<std::mutex>& lk, std::int64_t until, bool wake_on_change) override;
    void changed() override;
    void yield() override;
    void stop() override;
    bool is_virtual() const override { return true; }

    // The calling thread joins, holding the turn.
    void adopt_current_thread();
    // A thread about to be started; it runs once the running one waits.
    Participant* add_thread();
    void enter(Participant* p);  // first thing the new thread does
    void leave(Participant* p);  // last thing it does
    void set_suspended(Participant* p, bool suspended);  // lock not held

    // Runs on the program's main thread each time it is about to wait
    // (waiting true) and each time it reads the clock (false), with the
    // time's lock not held and, in a wait, before the turn passes: no other
    // thread of the program runs meanwhile. Tests that record whole runs
    // look at what the program shows there, and act as the world outside
    // would; a signal given then ends the wait at once.
    void on_main_thread(std::function<void(std::int64_t now_us, bool waiting)> f) { main_hook_ = std::move(f); }

private:
    void pass_turn();
    Participant* self() const;

    std::int64_t read_step_us_;
    std::int64_t now_ = 0;
    std::vector<std::unique_ptr<Participant>> parts_;
    std::function<void(std::int64_t, bool)> main_hook_;
    bool in_main_hook_ = false;  // only the main thread touches it
    void run_main_hook(bool waiting);
};

}  // namespace qn::platform::sim
