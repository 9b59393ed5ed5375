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

Result<Wake> PosixWait::wait_until(std::int64_t deadline, std::uint32_t sources, bool precise) {
    if (!setup_error_.empty()) return fail(setup_error_);
    enum { kEvent, kPort, kKeys, kTimer, kCount };
    pollfd fds[kCount];
    int slot[kCount];  // index into fds of each source, or -1
    nfds_t n = 0;
    auto add = [&](int which, int fd) {
        slot[which] = -1;
        if (fd < 0) return;
        slot[which] = static_cast<int>(n);
        fds[n++] = pollfd{fd, POLLIN, 0};
    };
    add(kEvent, (sources & kWakeEvent) ? event_fd_ : -1);
    add(kPort, (sources & kWakePort) ? PosixSerial::poll_fd(port_.load()) : -1);
    // A port that cannot be watched (closed, or left out after an error) is
    // to be looked at whenever the wait ends.
    const std::uint32_t blind = (sources & kWakePort) && slot[kPort] < 0 ? kWakePort : 0;
    add(kKeys, (sources & kWakeConsole) && console_ && !keys_broken_ ? console_->input_fd() : -1);
    if ((sources & kWakeConsole) && console_ && console_->has_buffered()) return Wake{kWakeConsole | blind, now_ns()};

    std::int64_t now = now_ns();
    timespec timeout{};
    const timespec* timeout_p = &timeout;
    bool timer_armed = false;
    if (precise && deadline - kSpinNs > now) {
        // Absolute time on a timerfd: poll's own time-outs get 0.1% slack.
        itimerspec its{};
        its.it_value = to_timespec(deadline - kSpinNs);
        if (::timerfd_settime(timer_fd_, TFD_TIMER_ABSTIME, &its, nullptr) != 0)
            return fail(errno_text("timerfd_settime", errno));
        add(kTimer, timer_fd_);
        timer_armed = true;
        timeout_p = nullptr;
    } else {
        slot[kTimer] = -1;
        timeout = to_timespec(precise ? 0 : deadline - now);
    }

    for (;;) {
        int rc = ::ppoll(fds, n, timeout_p, nullptr);
        const std::int64_t at = now_ns();
        if (rc < 0) {
            if (errno != EINTR) return fail(errno_text("ppoll", errno));
            if (!timer_armed) timeout = to_timespec(precise ? 0 : deadline - at);
            continue;
        }
        std::uint32_t seen = 0;
        auto ready = [&](int which) { return slot[which] >= 0 && (fds[slot[which]].revents & (POLLIN | POLLHUP | POLLERR)); };
        if (ready(kEvent)) {
            drain(event_fd_);
            seen |= kWakeEvent;
        }
        // A descriptor in error stays ready for ever: one wake tells the
        // reader (whose read then fails and says why), later waits leave it
        // out so the loop cannot spin on it.
        const short broken = POLLERR | POLLNVAL;
        if (ready(kPort)) {
            seen |= kWakePort;
            if (fds[slot[kPort]].revents & (broken | POLLHUP)) port_.store(0);
        }
        if (ready(kKeys)) {
            seen |= kWakeConsole;
            const short r = fds[slot[kKeys]].revents;
            if ((r & broken) || ((r & POLLHUP) && !(r & POLLIN))) keys_broken_ = true;
        }
        if (seen != 0) return Wake{seen | blind, at};
        if (ready(kTimer)) drain(timer_fd_);
        if (precise) spin_until(deadline);
        return Wake{blind, precise ? now_ns() : at};
    }
}

void PosixWait::sleep_until(std::int64_t deadline) {
    const timespec arm = to_timespec(deadline - kSpinNs);
    if (deadline - kSpinNs > now_ns())
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &arm, nullptr) == EINTR) {
        }
    spin_until(deadline);
}

}  // namespace qn::platform::posix
