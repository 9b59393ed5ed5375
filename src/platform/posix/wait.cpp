#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/posix_console.h"
#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/posix_wait.h"

namespace qn::platform::posix {

namespace {

std::int64_t now_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec to_timespec(std::int64_t ns) {
    if (ns < 0) ns = 0;
    return timespec{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
}

inline void cpu_relax() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

void spin_until(std::int64_t deadline) {
    while (now_ns() < deadline) cpu_relax();
}

// How often the spin at the end of a precise wait looks at the sources.
constexpr std::int64_t kSpinLookNs = 250000;

enum { kEvent, kPort, kKeys, kTimer, kCount };

void drain(int fd) {
    std::uint64_t count = 0;
    while (::read(fd, &count, sizeof count) == static_cast<ssize_t>(sizeof count)) {
    }
}

}  // namespace

PosixWait::PosixWait(PosixConsole* console) : console_(console) {
    event_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (event_fd_ < 0) setup_error_ = errno_text("eventfd", errno);
    timer_fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC | TFD_NONBLOCK);
    if (timer_fd_ < 0 && setup_error_.empty()) setup_error_ = errno_text("timerfd_create", errno);
}

PosixWait::~PosixWait() {
    if (event_fd_ >= 0) ::close(event_fd_);
    if (timer_fd_ >= 0) ::close(timer_fd_);
}

void PosixWait::signal() {
    if (event_fd_ < 0) return;
    const std::uint64_t one = 1;
    // Only EAGAIN (the counter full, after 2^64 - 2 signals) can fail here,
    // and the waiter is woken then anyway.
    (void)!::write(event_fd_, &one, sizeof one);
}

// One wait's descriptors and where each source's is among them; the timer,
// when armed, comes last.
struct PosixWait::Polled {
    pollfd fds[kCount];
    int slot[kCount];  // index into fds of each source, or -1
    nfds_t n = 0;
    std::uint32_t blind = 0;  // kWakePort when the port could not be watched

    void add(int which, int fd) {
        slot[which] = -1;
        if (fd < 0) return;
        slot[which] = static_cast<int>(n);
        fds[n++] = pollfd{fd, POLLIN, 0};
    }
    bool ready(int which) const {
        return slot[which] >= 0 && (fds[slot[which]].revents & (POLLIN | POLLHUP | POLLERR));
    }
};

std::uint32_t PosixWait::take(const Polled& p) {
    std::uint32_t seen = 0;
    if (p.ready(kEvent)) {
        drain(event_fd_);
        seen |= kWakeEvent;
    }
    // A descriptor in error stays ready for ever: one wake tells the
    // reader (whose read then fails and says why), later waits leave it
    // out so the loop cannot spin on it.
    const short broken = POLLERR | POLLNVAL;
    if (p.ready(kPort)) {
        seen |= kWakePort;
        if (p.fds[p.slot[kPort]].revents & (broken | POLLHUP)) port_.store(0);
    }
    if (p.ready(kKeys)) {
        seen |= kWakeConsole;
        const short r = p.fds[p.slot[kKeys]].revents;
        if ((r & broken) || ((r & POLLHUP) && !(r & POLLIN))) keys_broken_ = true;
    }
    return seen;
}

Result<Wake> PosixWait::wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) {
    if (!setup_error_.empty()) return fail(setup_error_);
    Polled p;
    p.add(kEvent, (sources & kWakeEvent) ? event_fd_ : -1);
    p.add(kPort, (sources & kWakePort) ? PosixSerial::poll_fd(port_.load()) : -1);
    // A port that cannot be watched (closed, or left out after an error) is
    // to be looked at whenever the wait ends.
    p.blind = (sources & kWakePort) && p.slot[kPort] < 0 ? kWakePort : 0;
    p.add(kKeys, (sources & kWakeConsole) && console_ && !keys_broken_ ? console_->input_fd() : -1);
    if ((sources & kWakeConsole) && console_ && console_->has_buffered()) return Wake{kWakeConsole | p.blind, now_ns()};

    std::int64_t now = now_ns();
    const std::int64_t arm_at = deadline - margin_.margin_ns();
    const bool timed = precise && arm_at > now;
    p.slot[kTimer] = -1;
    if (timed) {
        // Absolute time on a timerfd: poll's own time-outs get 0.1% slack.
        itimerspec its{};
        its.it_value = to_timespec(arm_at);
        if (::timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &its, nullptr) != 0)
            return fail(errno_text("timerfd_settime", errno));
        p.add(kTimer, timer_fd_);
    }

    for (;;) {
        const timespec timeout = to_timespec(precise ? 0 : deadline - now);
        const int rc = ::ppoll(p.fds, p.n, timed ? nullptr : &timeout, nullptr);
        const std::int64_t at = now_ns();
        if (rc < 0) {
            if (errno != EINTR) return fail(errno_text("ppoll", errno));
            now = at;
            continue;
        }
        if (std::uint32_t seen = take(p)) return Wake{seen | p.blind, at};
        if (p.ready(kTimer)) {
            drain(timer_fd_);
            margin_.woke_late_by(at - arm_at);
        }
        if (precise) return spin_to(deadline, p);
        return Wake{p.blind, at};
    }
}

Result<Wake> PosixWait::spin_to(std::int64_t deadline, Polled& p) {
    // The timer, last if it is there, is done with.
    const nfds_t n = p.slot[kTimer] >= 0 ? p.n - 1 : p.n;
    std::int64_t next_look = now_ns() + kSpinLookNs;
    for (;;) {
        const std::int64_t now = now_ns();
        if (now >= deadline) return Wake{p.blind, now};
        if (n > 0 && now >= next_look) {
            const timespec zero{};
            if (::ppoll(p.fds, n, &zero, nullptr) > 0)
                if (std::uint32_t seen = take(p)) return Wake{seen | p.blind, now_ns()};
            next_look = now + kSpinLookNs;
        }
        cpu_relax();
    }
}

void PosixWait::sleep_until(std::int64_t deadline) {
    // A margin per thread that sleeps: the serial thread's re-check and the
    // main thread learn their own wake-ups.
    thread_local TimerMargin margin{kWakeUpMarginFloorNs, kWakeUpMarginCeilingNs};
    const std::int64_t arm_at = deadline - margin.margin_ns();
    if (arm_at > now_ns()) {
        const timespec arm = to_timespec(arm_at);
        int rc = 0;
        while ((rc = ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &arm, nullptr)) == EINTR) {
        }
        if (rc == 0) margin.woke_late_by(now_ns() - arm_at);
    }
    spin_until(deadline);
}

}  // namespace qn::platform::posix
