// Requests to end on POSIX: SIGINT, SIGTERM and SIGHUP. The handler only
// notes the first; the main thread sees it at its next look and ends the
// run. Closing a terminal window often brings SIGHUP twice (from the kernel
// and again from the shell), so only a request that comes when the first
// has waited kPatienceNs ends the process at once, the terminal restored.
#include <signal.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/posix/posix_console.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr std::int64_t kPatienceNs = 2000000000;

std::atomic<int> g_first_signal{0};
std::atomic<std::int64_t> g_first_at_ns{0};

std::int64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);  // async-signal-safe
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void on_end_signal(int sig) {
    const int saved_errno = errno;
    int none = 0;
    if (g_first_signal.compare_exchange_strong(none, sig)) {
        g_first_at_ns.store(monotonic_ns());
    } else if (monotonic_ns() - g_first_at_ns.load() > kPatienceNs) {
        restore_terminal();
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(sig, &dfl, nullptr);
        raise(sig);
    }
    errno = saved_errno;
}

}  // namespace

Result<void> PosixEnding::take_requests() {
    for (int sig : kEndSignals) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) != 0) return fail(errno_text("sigaction", errno));
        // A signal the parent told us to ignore (nohup) stays ignored.
        if (old.sa_handler == SIG_IGN && !(old.sa_flags & SA_SIGINFO)) continue;
        struct sigaction sa {};
        sa.sa_handler = on_end_signal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        if (sigaction(sig, &sa, nullptr) != 0) return fail(errno_text("sigaction", errno));
    }
    return {};
}

EndRequest PosixEnding::requested() {
    switch (g_first_signal.load()) {
    case SIGINT: return {EndReason::Interrupt, "SIGINT"};
    case SIGTERM: return {EndReason::Terminate, "SIGTERM"};
    case SIGHUP: return {EndReason::HangUp, "SIGHUP"};
    default: return {};
    }
}

}  // namespace qn::platform::posix
