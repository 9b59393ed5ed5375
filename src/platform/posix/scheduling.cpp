// Scheduling on Linux: SCHED_FIFO where RLIMIT_RTPRIO (or CAP_SYS_NICE)
// allows it; else RealtimeKit over the system bus, through sd-bus looked up
// in libsystemd at run time, so that the program runs where there is no
// libsystemd or no bus; else a nice value within RLIMIT_NICE. mlockall
// where RLIMIT_MEMLOCK allows it.
//
// A real-time thread that stops blocking holds a processor. The kernel
// counts a real-time thread's CPU time since it last blocked against
// RLIMIT_RTTIME: SIGXCPU at the soft limit, SIGKILL at the hard one, which
// RealtimeKit requires to be at most its RTTimeUSecMax (200 ms). The soft
// limit is set below that, and SIGXCPU puts the thread that ran away back
// to normal scheduling rather than let the hard limit kill the program.
// Nothing in the program computes that long without a wait: only a fault.
#include <dlfcn.h>
#include <linux/capability.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <mutex>

#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

// The main loop below the serial thread, so that the serial thread's time
// stamp is taken first when both are due.
int fifo_priority(Urgency u) { return u == Urgency::Critical ? kFifoPriority : kFifoPriority - 5; }
int nice_wanted(Urgency u) { return u == Urgency::Critical ? -10 : -5; }

std::string limit_text(rlim_t v) { return v == RLIM_INFINITY ? "unlimited" : std::to_string(v); }

bool has_capability(int cap) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[cap / 32].effective & (1u << (cap % 32))) != 0;
}

const char* policy_name(int policy) {
    switch (policy & ~SCHED_RESET_ON_FORK) {
    case SCHED_FIFO: return "SCHED_FIFO";
    case SCHED_RR: return "SCHED_RR";
    default: return "a real-time policy";
    }
}

// ---- a thread that runs away ---------------------------------------------

constexpr rlim_t kRunawayUs = 100000;
std::atomic<rlim_t> g_soft_rttime{RLIM_INFINITY};

// Only async-signal-safe calls (system calls) here. The kernel signals the
// thread it found over the limit.
void on_runaway(int) {
    const int saved_errno = errno;
    sched_param normal{};
    sched_setscheduler(0, SCHED_OTHER, &normal);
    // The kernel moved the soft limit a second on as it signalled; put it
    // back, so that another thread that runs away is caught before the
    // hard limit too.
    rlimit rl{};
    if (getrlimit(RLIMIT_RTTIME, &rl) == 0) {
        rl.rlim_cur = std::min(g_soft_rttime.load(), rl.rlim_max);
        setrlimit(RLIMIT_RTTIME, &rl);
    }
    static const char kText[] =
        "Real-time scheduling dropped: a thread ran 100 ms at real-time priority without waiting (SIGXCPU, "
        "RLIMIT_RTTIME); it runs at normal priority from now on\r\n";
    (void)!::write(STDERR_FILENO, kText, sizeof kText - 1);
    errno = saved_errno;
}

// The soft limit at most kRunawayUs, the hard one at most hard_max (as
// RealtimeKit requires). Empty when in force, else why not.
std::string guard_runaway(rlim_t hard_max) {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = on_runaway;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGXCPU, &sa, nullptr);
    });
    rlimit now{};
    if (getrlimit(RLIMIT_RTTIME, &now) != 0) return errno_text("getrlimit(RLIMIT_RTTIME)", errno);
    rlimit want = now;
    want.rlim_max = std::min(now.rlim_max, hard_max);
    const rlim_t below_hard = want.rlim_max == RLIM_INFINITY ? kRunawayUs : want.rlim_max / 2;
    want.rlim_cur = std::min({now.rlim_cur, kRunawayUs, below_hard});
    g_soft_rttime = want.rlim_cur;
    if ((want.rlim_cur != now.rlim_cur || want.rlim_max != now.rlim_max) && setrlimit(RLIMIT_RTTIME, &want) != 0)
        return errno_text("setrlimit(RLIMIT_RTTIME, " + limit_text(want.rlim_max) + " us)", errno);
    return {};
}

// ---- sd-bus ----------------------------------------------------------------

// sd-bus's error record (sd-bus.h), set by a call that failed.
struct BusError {
    const char* name = nullptr;
    const char* message = nullptr;
    int need_free = 0;
};

struct SdBus {
    int (*open_system)(void** bus) = nullptr;
    int (*set_method_call_timeout)(void* bus, std::uint64_t usec) = nullptr;
    int (*is_ready)(void* bus) = nullptr;
    int (*process)(void* bus, void** message) = nullptr;
    int (*wait)(void* bus, std::uint64_t timeout_usec) = nullptr;
    int (*get_property_trivial)(void* bus, const char* destination, const char* path, const char* interface,
                                const char* member, BusError* error, char type, void* value) = nullptr;
    int (*call_method)(void* bus, const char* destination, const char* path, const char* interface,
                       const char* member, BusError* error, void** reply, const char* types, ...) = nullptr;
    void (*error_free)(BusError* error) = nullptr;
    void* (*message_unref)(void* message) = nullptr;
    void* (*unref)(void* bus) = nullptr;
    std::string error;  // why sd-bus cannot be used
};

template <typename Fn>
void look_up(void* lib, const char* name, Fn& fn, std::string& error) {
    fn = reinterpret_cast<Fn>(dlsym(lib, name));
    if (!fn && error.empty()) error = std::string("dlsym(") + name + "): " + dlerror();
}

// Loaded once and kept for the life of the process.
const SdBus& sd_bus() {
    static const SdBus lib = [] {
        SdBus b;
        void* h = dlopen("libsystemd.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!h) {
            b.error = std::string("dlopen(libsystemd.so.0): ") + dlerror();
            return b;
        }
        look_up(h, "sd_bus_open_system", b.open_system, b.error);
        look_up(h, "sd_bus_set_method_call_timeout", b.set_method_call_timeout, b.error);  // systemd 240 and later
        look_up(h, "sd_bus_is_ready", b.is_ready, b.error);
        look_up(h, "sd_bus_process", b.process, b.error);
        look_up(h, "sd_bus_wait", b.wait, b.error);
        look_up(h, "sd_bus_get_property_trivial", b.get_property_trivial, b.error);
        look_up(h, "sd_bus_call_method", b.call_method, b.error);
        look_up(h, "sd_bus_error_free", b.error_free, b.error);
        look_up(h, "sd_bus_message_unref", b.message_unref, b.error);
        look_up(h, "sd_bus_unref", b.unref, b.error);
        return b;
    }();
    return lib;
}

// A bus that does not answer holds start-up this long at most, once: its
// failure is remembered.
constexpr std::int64_t kBusTimeoutUs = 1000000;
constexpr const char* kRtkit = "org.freedesktop.RealtimeKit1";
constexpr const char* kRtkitPath = "/org/freedesktop/RealtimeKit1";

std::int64_t now_us() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000 + t.tv_nsec / 1000;
}

std::string bus_error(const std::string& call, int r, BusError& e) {
    std::string text = e.name ? call + ": " + e.name + (e.message ? std::string(": ") + e.message : "")
                              : errno_text(call, -r);
    sd_bus().error_free(&e);
    return text;
}

class Bus {
public:
    explicit Bus(const SdBus& lib) : lib_(lib) {}
    ~Bus() {
        if (bus_) lib_.unref(bus_);  // no flush: a bus that does not answer would hold it
    }
    Bus(const Bus&) = delete;
    Bus& operator=(const Bus&) = delete;

    // Connected and greeted within kBusTimeoutUs. sd-bus gives the greeting
    // (authentication) 90 s of its own, which no call's time-out shortens.
    std::string open() {
        int r = lib_.open_system(&bus_);
        if (r < 0) return errno_text("sd_bus_open_system", -r) + " (no system bus)";
        lib_.set_method_call_timeout(bus_, static_cast<std::uint64_t>(kBusTimeoutUs));
        const std::int64_t deadline = now_us() + kBusTimeoutUs;
        while ((r = lib_.is_ready(bus_)) == 0) {
            if ((r = lib_.process(bus_, nullptr)) < 0) return errno_text("sd_bus_process", -r);
            if (r > 0) continue;
            const std::int64_t left = deadline - now_us();
            if (left <= 0) return errno_text("sd_bus_wait", ETIMEDOUT) + " (the system bus did not answer)";
            if ((r = lib_.wait(bus_, static_cast<std::uint64_t>(left))) < 0) return errno_text("sd_bus_wait", -r);
        }
        return r < 0 ? errno_text("sd_bus_is_ready", -r) : std::string();
    }
    std::string property(const char* name, char type, void* value) {
        BusError e;
        const int r = lib_.get_property_trivial(bus_, kRtkit, kRtkitPath, kRtkit, name, &e, type, value);
        return r < 0 ? bus_error(name, r, e) : std::string();
    }
    std::string make_realtime(std::uint64_t tid, std::uint32_t priority) {
        BusError e;
        void* reply = nullptr;
        const int r = lib_.call_method(bus_, kRtkit, kRtkitPath, kRtkit, "MakeThreadRealtime", &e, &reply, "tu", tid,
                                       priority);
        if (reply) lib_.message_unref(reply);
        return r < 0 ? bus_error("MakeThreadRealtime", r, e) : std::string();
    }

private:
    const SdBus& lib_;
    void* bus_ = nullptr;
};

}  // namespace

Result<std::string> PosixScheduling::realtime(Urgency u) {
    rlimit rl{};
    getrlimit(RLIMIT_RTPRIO, &rl);
    int priority = fifo_priority(u);
    // Within the user's limit where it is lower (the audio group's is
    // usually 95 or 99). A limit of 0 still allows it with CAP_SYS_NICE.
    if (rl.rlim_cur != RLIM_INFINITY && rl.rlim_cur > 0 && rl.rlim_cur < static_cast<rlim_t>(priority))
        priority = std::max(1, static_cast<int>(rl.rlim_cur) - (u == Urgency::Critical ? 0 : 1));
    if (std::string e = guard_runaway(RLIM_INFINITY); !e.empty()) return fail(e);
    sched_param sp{};
    sp.sched_priority = priority;
    if (sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &sp) != 0)
        return fail(errno_text("sched_setscheduler(SCHED_FIFO, " + std::to_string(priority) + ")", errno) +
                    ", RLIMIT_RTPRIO " + limit_text(rl.rlim_cur));
    return "SCHED_FIFO priority " + std::to_string(priority);
}

Result<std::string> PosixScheduling::realtime_by_broker(Urgency u) {
    std::lock_guard<std::mutex> g(broker_mu_);
    if (!broker_unusable_.empty()) return fail(broker_unusable_);
    auto unusable = [this](const std::string& why) {
        broker_unusable_ = "RealtimeKit: " + why;
        return fail(broker_unusable_);
    };
    const SdBus& lib = sd_bus();
    if (!lib.error.empty()) return unusable(lib.error);
    Bus bus(lib);
    if (std::string e = bus.open(); !e.empty()) return unusable(e);
    std::int32_t max_priority = 0;
    std::int64_t rttime_max_us = 0;
    if (std::string e = bus.property("MaxRealtimePriority", 'i', &max_priority); !e.empty()) return unusable(e);
    if (std::string e = bus.property("RTTimeUSecMax", 'x', &rttime_max_us); !e.empty()) return unusable(e);
    if (max_priority < 1) return unusable("MaxRealtimePriority " + std::to_string(max_priority));
    if (std::string e = guard_runaway(rttime_max_us > 0 ? static_cast<rlim_t>(rttime_max_us) : 200000); !e.empty())
        return fail("RealtimeKit: " + e);
    const int priority =
        std::max(1, std::min(fifo_priority(u), max_priority - (u == Urgency::Critical ? 0 : 1)));
    if (std::string e = bus.make_realtime(static_cast<std::uint64_t>(gettid()), static_cast<std::uint32_t>(priority));
        !e.empty())
        return fail("RealtimeKit: " + e);
    return std::string(policy_name(sched_getscheduler(0))) + " priority " + std::to_string(priority) +
           " from RealtimeKit";
}

Result<std::string> PosixScheduling::raise(Urgency u) {
    const int want = nice_wanted(u);
    const pid_t tid = gettid();
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), want) == 0) return "nice " + std::to_string(want);
    const int err = errno;
    rlimit rl{};
    getrlimit(RLIMIT_NICE, &rl);
    // RLIMIT_NICE n allows nice values down to 20 - n.
    const long lowest = rl.rlim_cur == RLIM_INFINITY ? -20 : 20 - static_cast<long>(std::min<rlim_t>(rl.rlim_cur, 40));
    if (lowest > want && lowest < 0 && setpriority(PRIO_PROCESS, static_cast<id_t>(tid), static_cast<int>(lowest)) == 0)
        return "nice " + std::to_string(lowest);
    return fail(errno_text("setpriority(nice " + std::to_string(want) + ")", err) + ", RLIMIT_NICE " +
                limit_text(rl.rlim_cur));
}

Result<std::string> PosixScheduling::lock_memory() {
    rlimit rl{};
    getrlimit(RLIMIT_MEMLOCK, &rl);
    // Under a finite limit MCL_FUTURE would make the program's own later
    // allocations fail once the limit is reached: then only what is mapped
    // now is locked (if it fits).
    const bool all = rl.rlim_cur == RLIM_INFINITY || has_capability(CAP_IPC_LOCK);
    const std::string limit = rl.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(rl.rlim_cur / 1024) + " kB";
    if (mlockall(MCL_CURRENT | (all ? MCL_FUTURE : 0)) != 0)
        return fail(errno_text("mlockall", errno) + ", RLIMIT_MEMLOCK " + limit);
    return all ? std::string("locked in RAM (mlockall)")
               : "what is mapped so far locked in RAM (mlockall; RLIMIT_MEMLOCK " + limit + ")";
}

std::string PosixScheduling::how_to_allow() {
    return "real-time scheduling needs an rtprio limit (the audio group's, /etc/security/limits.d) or RealtimeKit "
           "(rtkit), which grants it to the user logged in at the desktop";
}

}  // namespace qn::platform::posix
