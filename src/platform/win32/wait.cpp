// Waiting on Windows: WaitForMultipleObjects on an auto-reset event (the
// serial thread's signal), the port's watch (data mode: serial_watch.h), the
// console input and, for a precise deadline, a waitable timer armed a
// little early; the rest of a precise deadline is a spin on the counter.
#include "platform/timer_margin.h"
#include "platform/win32/serial_watch.h"
#include "platform/win32/serial_wine.h"
#include "platform/win32/win32_wait.h"

#include <mutex>

namespace qn::platform::win32 {

namespace {

std::int64_t counter() {
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

std::int64_t frequency() {
    LARGE_INTEGER f;
    return QueryPerformanceFrequency(&f) && f.QuadPart > 0 ? f.QuadPart : 1;
}

// Counter ticks to another unit (units per second), rounded up, without
// overflowing for long spans.
std::int64_t ticks_to(std::int64_t ticks, std::int64_t per_second, std::int64_t freq) {
    if (ticks <= 0) return 0;
    return (ticks / freq) * per_second + ((ticks % freq) * per_second + freq - 1) / freq;
}

// A WaitForMultipleObjects time-out in whole milliseconds, rounded up and
// kept short of INFINITE.
DWORD timeout_ms(std::int64_t ticks, std::int64_t freq) {
    constexpr std::int64_t kLongest = 24LL * 3600 * 1000;
    const std::int64_t ms = ticks_to(ticks, 1000, freq);
    return static_cast<DWORD>(ms < kLongest ? ms : kLongest);
}

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

void spin_until(std::int64_t deadline) {
    while (counter() < deadline) cpu_relax();
}

// ---- the timer -------------------------------------------------------------

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803 and later.
constexpr DWORD kHighResolutionTimer = 0x00000002;
// CREATE_WAITABLE_TIMER_MANUAL_RESET. Setting a manual-reset timer clears
// a signal it still had from before (it fired after another source ended
// the wait); Wine clears it for this kind only.
constexpr DWORD kManualReset = 0x00000001;

// How early a precise deadline's timer is armed at most (timer_margin.h
// keeps it to what the timer shows), the rest being spun. A timer is never
// early, and late by what its kind allows:
// - a high-resolution timer is programmed for its own time and is late by
//   the wake-up alone, about half a millisecond at worst on an idle
//   machine at normal priority, tens of microseconds for a thread in
//   MMCSS's real-time range;
// - an ordinary timer ends at the first clock tick after its time, up to
//   one tick late: 1 ms with the resolution the program asks for
//   (timeBeginPeriod(1)), and the wake-up comes on top. Wine's timers are
//   of this kind whatever the flag says: its server counts in milliseconds.
constexpr std::int64_t kHighResMarginNs = 1000000;
constexpr std::int64_t kPlainMarginNs = 2000000;
constexpr std::int64_t kLeastMarginNs = 100000;
// How often a spin looks at the wake sources.
constexpr std::int64_t kSpinLookNs = 250000;

struct WaitTimer {
    WaitTimer() {
        handle = CreateWaitableTimerExW(nullptr, nullptr, kManualReset | kHighResolutionTimer, TIMER_ALL_ACCESS);
        if (handle) {
            high_resolution = !running_under_wine();
        } else {
            // Refused before Windows 10 1803 (ERROR_INVALID_PARAMETER).
            handle = CreateWaitableTimerExW(nullptr, nullptr, kManualReset, TIMER_ALL_ACCESS);
            if (!handle) error = last_error("CreateWaitableTimerEx");
        }
        margin = TimerMargin(kLeastMarginNs, high_resolution ? kHighResMarginNs : kPlainMarginNs);
    }
    ~WaitTimer() {
        if (handle) CloseHandle(handle);
    }
    WaitTimer(const WaitTimer&) = delete;
    WaitTimer& operator=(const WaitTimer&) = delete;

    // The margin in counter ticks.
    std::int64_t margin_ticks(std::int64_t freq) const { return ticks_to(margin.margin_ns(), freq, 1000000000); }
    // Signalled when the counter reads at (now: the counter before the
    // call). Relative time (negative, in 100 ns units), so changes of the
    // system clock do not move it.
    bool arm(std::int64_t at, std::int64_t now, std::int64_t freq) {
        LARGE_INTEGER due;
        due.QuadPart = -ticks_to(at - now, 10000000, freq);
        armed_for = at;
        return SetWaitableTimer(handle, &due, 0, nullptr, nullptr, FALSE) != FALSE;
    }
    // The timer fired and its thread runs again at counter value woke.
    void fired(std::int64_t woke, std::int64_t freq) { margin.woke_late_by(ticks_to(woke - armed_for, 1000000000, freq)); }

    HANDLE handle = nullptr;
    bool high_resolution = false;
    TimerMargin margin{kLeastMarginNs, kPlainMarginNs};
    std::int64_t armed_for = 0;  // the counter value the timer was last armed for
    std::string error;           // why no timer could be made
};

// ---- the wait --------------------------------------------------------------

// The handles of one wait and the source each stands for; the timer, when
// armed, goes after them.
struct Sources {
    HANDLE handle[4];
    std::uint32_t source[4];
    DWORD count = 0;

    void add(HANDLE h, std::uint32_t s) {
        handle[count] = h;
        source[count++] = s;
    }
    void remove(DWORD i) {
        for (--count; i < count; ++i) {
            handle[i] = handle[i + 1];
            source[i] = source[i + 1];
        }
    }
};

class Win32Wait final : public Wait {
public:
    explicit Win32Wait(ConsoleKeys* keys) : keys_(keys), freq_(frequency()) {
        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!event_) setup_error_ = last_error("CreateEvent");
        else if (!timer_.handle) setup_error_ = timer_.error;
        look_every_ = ticks_to(kSpinLookNs, freq_, 1000000000);
    }
    ~Win32Wait() override {
        if (event_) CloseHandle(event_);
    }
    Win32Wait(const Win32Wait&) = delete;
    Win32Wait& operator=(const Win32Wait&) = delete;

    void signal() override {
        if (event_) SetEvent(event_);
    }

    void watch_port(PortHandle h) override {
        std::lock_guard<std::mutex> g(port_lock_);
        port_wanted_ = h;
        ++port_asked_;
    }

    Result<Wake> wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) override;
    void sleep_until(std::int64_t deadline) override;

private:
    // Takes up a watch_port request.
    void follow_port();
    // The sources to wait on; a non-zero return is a source ready now.
    std::uint32_t gather(std::uint32_t wanted, Sources& set);
    // After the handle of a source was signalled: the source, if it has news.
    std::uint32_t take(Sources& set, DWORD i);
    // The last part of a precise deadline: a spin that looks at the sources
    // now and then, when there is time for it.
    Wake spin_to(std::int64_t deadline, Sources& set);

    ConsoleKeys* keys_;
    const std::int64_t freq_;
    HANDLE event_ = nullptr;
    WaitTimer timer_;
    std::int64_t look_every_ = 0;  // how often a spin looks at the sources
    std::string setup_error_;

    std::mutex port_lock_;
    PortHandle port_wanted_ = 0;
    std::uint64_t port_asked_ = 0;  // watch_port calls: the same handle again is a new port
    std::uint64_t port_taken_ = 0;
    PortWatch port_;

    std::uint32_t blind_ = 0;   // kWakePort when this wait could not watch the port
    bool keys_broken_ = false;  // the console input failed: not waited on
    int console_idle_ = 0;      // console wakes without a key in this wait
};

void Win32Wait::follow_port() {
    PortHandle h = 0;
    {
        std::lock_guard<std::mutex> g(port_lock_);
        if (port_asked_ == port_taken_) return;
        port_taken_ = port_asked_;
        h = port_wanted_;
    }
    port_.watch(h);
}

std::uint32_t Win32Wait::gather(std::uint32_t wanted, Sources& set) {
    blind_ = 0;
    if (wanted & kWakeEvent) set.add(event_, kWakeEvent);
    if (wanted & kWakePort) {
        follow_port();
        switch (port_.arm()) {
        case PortWatch::State::Ready: return kWakePort;
        case PortWatch::State::Waiting: set.add(port_.handle(), kWakePort); break;
        // Not watched in this wait: to be looked at whenever it ends.
        case PortWatch::State::Off: blind_ = kWakePort; break;
        }
    }
    if ((wanted & kWakeConsole) && keys_ && !keys_broken_) {
        if (keys_->keys_buffered()) return kWakeConsole;
        if (HANDLE in = keys_->input_handle()) set.add(in, kWakeConsole);
    }
    return 0;
}

std::uint32_t Win32Wait::take(Sources& set, DWORD i) {
    switch (set.source[i]) {
    case kWakeEvent: return kWakeEvent;  // the auto-reset event is clear again
    case kWakePort:
        switch (port_.collect()) {
        case PortWatch::State::Ready: return kWakePort;
        // The call on the port ended without a byte to read and a new one
        // is under way, on the same event handle.
        case PortWatch::State::Waiting: return 0;
        // Not watched for the rest of this wait: looked at when it ends.
        case PortWatch::State::Off:
            blind_ = kWakePort;
            set.remove(i);
            return 0;
        }
        return 0;
    case kWakeConsole:
        switch (keys_->take_input()) {
        case ConsoleKeys::Input::Key: return kWakeConsole;
        case ConsoleKeys::Input::Failed:
            // One wake tells the reader; later waits leave the console out
            // so the loop cannot spin on it.
            keys_broken_ = true;
            return kWakeConsole;
        case ConsoleKeys::Input::None: break;
        }
        // Records that are not keys (focus, menu) were dropped, which
        // clears the handle; one that stays signalled anyway would keep
        // this wait from sleeping, so it is left out of the rest of it.
        if (++console_idle_ >= 4) set.remove(i);
        return 0;
    default: return 0;
    }
}

Result<Wake> Win32Wait::wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) {
    if (!setup_error_.empty()) return fail(setup_error_);
    Sources set;
    if (std::uint32_t ready = gather(sources, set)) return Wake{ready | blind_, counter()};
    console_idle_ = 0;

    bool timed = false;
    if (precise) {
        const std::int64_t now = counter();
        const std::int64_t arm_at = deadline - timer_.margin_ticks(freq_);
        if (arm_at <= now) return spin_to(deadline, set);
        if (!timer_.arm(arm_at, now, freq_)) return fail(last_error("SetWaitableTimer"));
        timed = true;
    }
    for (;;) {
        // The timer ends a precise wait, and the time-out is only a
        // backstop; a past deadline still looks at the sources once.
        const std::int64_t now = counter();
        const DWORD wait_ms = timeout_ms(deadline - now, freq_) + (timed ? 1 : 0);
        DWORD count = set.count;
        if (timed) set.handle[count++] = timer_.handle;
        DWORD r = WAIT_TIMEOUT;
        if (count > 0)
            r = WaitForMultipleObjects(count, set.handle, FALSE, wait_ms);
        else
            Sleep(wait_ms);
        const std::int64_t at = counter();
        if (r == WAIT_FAILED) return fail(last_error("WaitForMultipleObjects"));
        if (r == WAIT_TIMEOUT) {
            if (timed) return spin_to(deadline, set);
            // A time-out may end a little early: never before the deadline.
            if (at >= deadline) return Wake{blind_, at};
            continue;
        }
        const DWORD i = r - WAIT_OBJECT_0;
        if (i == set.count && timed) {
            timer_.fired(at, freq_);
            return spin_to(deadline, set);
        }
        if (i >= set.count) return fail(error_text("WaitForMultipleObjects", ERROR_INVALID_HANDLE));
        if (std::uint32_t seen = take(set, i)) return Wake{seen | blind_, at};
    }
}

Wake Win32Wait::spin_to(std::int64_t deadline, Sources& set) {
    // A look at the sources is a system call (under Wine a round trip to
    // its server, a tenth of a millisecond or more): none is started that
    // could run past the deadline.
    std::int64_t next_look = 0;
    std::int64_t look_cost = 0;
    for (;;) {
        const std::int64_t now = counter();
        if (now >= deadline) return Wake{blind_, now};
        if (set.count > 0 && now >= next_look && deadline - now > 2 * look_cost) {
            const DWORD r = WaitForMultipleObjects(set.count, set.handle, FALSE, 0);
            const std::int64_t at = counter();
            look_cost = at - now;
            next_look = at + look_every_;
            const DWORD i = r - WAIT_OBJECT_0;
            if (r != WAIT_FAILED && r != WAIT_TIMEOUT && i < set.count)
                if (std::uint32_t seen = take(set, i)) return Wake{seen | blind_, at};
            continue;
        }
        cpu_relax();
    }
}

void Win32Wait::sleep_until(std::int64_t deadline) {
    // A timer per thread that sleeps: the serial thread's re-check and the
    // main thread may sleep at the same time.
    thread_local WaitTimer timer;
    const std::int64_t now = counter();
    const std::int64_t arm_at = deadline - timer.margin_ticks(freq_);
    if (arm_at > now) {
        if (timer.handle && timer.arm(arm_at, now, freq_)) {
            if (WaitForSingleObject(timer.handle, timeout_ms(deadline - now, freq_) + 1) == WAIT_OBJECT_0)
                timer.fired(counter(), freq_);
        } else
            Sleep(static_cast<DWORD>((arm_at - now) * 1000 / freq_));
    }
    spin_until(deadline);
}

}  // namespace

std::unique_ptr<Wait> make_wait(Console* console) {
    return std::make_unique<Win32Wait>(dynamic_cast<ConsoleKeys*>(console));
}

}  // namespace qn::platform::win32
