// Clock and threads on Linux.
//
// Suspending a thread: POSIX has no SuspendThread, so suspend() queues a
// signal to the thread, whose handler reports that it is parked and then
// waits on a futex until resume() clears it.
//
// The handler is installed without SA_RESTART. A TIOCMIWAIT that the kernel
// restarted would take a fresh snapshot of the lines and miss a change made
// while the thread was parked; interrupted instead, it returns EINTR and the
// serial code looks for such a change before it waits again. Every blocking
// call in this backend carries on after EINTR.
#include <linux/futex.h>
#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#include <x86intrin.h>
#define QN_HAVE_X86_TSC 1
#endif

#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

std::string errno_text(const std::string& call, int err) {
    return call + ": " + std::strerror(err);
}

// ---- clock -------------------------------------------------------------------

std::int64_t PosixClock::counter() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool PosixClock::tsc_available() {
#ifdef QN_HAVE_X86_TSC
    unsigned a = 0, b = 0, c = 0, d = 0;
    constexpr unsigned kTscBit = 1u << 4;  // CPUID leaf 1, EDX
    return __get_cpuid(1, &a, &b, &c, &d) && (d & kTscBit) != 0;
#else
    return false;
#endif
}

std::int64_t PosixClock::tsc() {
#ifdef QN_HAVE_X86_TSC
    return static_cast<std::int64_t>(__rdtsc());
#else
    return 0;
#endif
}

// ---- threads -----------------------------------------------------------------

// One per created thread, never freed: the program's threads live as long as
// the process, and a handle must stay valid after its body has returned.
struct ThreadRecord {
    pthread_t thread{};
    std::function<void()> body;
    std::uint32_t id = 0;
    sem_t started{};
    sem_t parked{};             // posted by the signal handler once parked
    std::atomic<int> hold{0};   // futex word: the parked thread waits while 1
    std::mutex lock;            // guards suspend_count and finished
    int suspend_count = 0;
    bool finished = false;
};

namespace {

// Real-time signals queue and carry a pointer; glibc keeps the first few below
// SIGRTMIN for itself, so any offset from SIGRTMIN is ours.
int suspend_signal() { return SIGRTMIN + 4; }

// Below the kernel's interrupt threads (priority 50 on PREEMPT_RT), so the
// interrupt that reports a line change is never held up by the thread that
// waits for it, and above every ordinary (SCHED_OTHER) thread.
constexpr int kFifoPriority = 45;

void futex_wait(std::atomic<int>* word, int value) {
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAIT_PRIVATE, value, nullptr,
            nullptr, 0);
}

void futex_wake(std::atomic<int>* word) {
    syscall(SYS_futex, reinterpret_cast<int*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
}

// Only async-signal-safe calls here: sem_post and the raw futex.
void on_suspend_signal(int, siginfo_t* info, void*) {
    if (info->si_code != SI_QUEUE || info->si_pid != getpid()) return;
    auto* r = static_cast<ThreadRecord*>(info->si_value.sival_ptr);
    if (r == nullptr) return;
    int saved_errno = errno;
    sem_post(&r->parked);
    while (r->hold.load() != 0) futex_wait(&r->hold, 1);
    errno = saved_errno;
}

void install_suspend_handler() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_sigaction = on_suspend_signal;
        sa.sa_flags = SA_SIGINFO;
        sigemptyset(&sa.sa_mask);
        sigaction(suspend_signal(), &sa, nullptr);
    });
}

void* thread_main(void* arg) {
    auto* r = static_cast<ThreadRecord*>(arg);
    r->id = static_cast<std::uint32_t>(gettid());
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, suspend_signal());
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    sem_post(&r->started);
    r->body();
    std::lock_guard<std::mutex> g(r->lock);
    r->finished = true;
    return nullptr;
}

ThreadRecord* record(ThreadHandle h) { return reinterpret_cast<ThreadRecord*>(h); }

// Every record ever made, so that they stay reachable (and leak checkers
// quiet) after their handles have gone out of sight.
void keep(ThreadRecord* r) {
    static std::mutex lock;
    static auto* all = new std::vector<ThreadRecord*>;
    std::lock_guard<std::mutex> g(lock);
    all->push_back(r);
}

void wait_sem(sem_t* s) {
    while (sem_wait(s) != 0 && errno == EINTR) {
    }
}

timespec monotonic_after_ns(std::int64_t ns) {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += ns / 1000000000;
    t.tv_nsec += ns % 1000000000;
    if (t.tv_nsec >= 1000000000) {
        t.tv_sec += 1;
        t.tv_nsec -= 1000000000;
    }
    return t;
}

}  // namespace

Result<ThreadInfo> PosixThreads::create(std::function<void()> body) {
    install_suspend_handler();
    auto* r = new ThreadRecord;
    r->body = std::move(body);
    sem_init(&r->started, 0, 0);
    sem_init(&r->parked, 0, 0);
    int e = pthread_create(&r->thread, nullptr, thread_main, r);
    if (e != 0) {
        delete r;
        return fail(errno_text("pthread_create", e));
    }
    keep(r);
    // The thread is ready for suspend() once it has unblocked the signal.
    wait_sem(&r->started);
    return ThreadInfo{reinterpret_cast<ThreadHandle>(r), r->id};
}

Result<void> PosixThreads::set_priority(ThreadHandle h, int priority) {
    if (h == 0) return fail(errno_text("pthread_setschedparam", ESRCH));
    sched_param sp{};
    int policy = SCHED_OTHER;
    if (priority >= kPriorityTimeCritical) {
        policy = SCHED_FIFO;
        sp.sched_priority = kFifoPriority;
    } else if (priority != kPriorityNormal) {
        return not_supported("pthread_setschedparam: priority " + std::to_string(priority));
    }
    int e = pthread_setschedparam(record(h)->thread, policy, &sp);
    if (e != 0) return fail(errno_text("pthread_setschedparam", e));
    return {};
}

Result<int> PosixThreads::get_priority(ThreadHandle h) {
    if (h == 0) return fail(errno_text("pthread_getschedparam", ESRCH));
    sched_param sp{};
    int policy = 0;
    int e = pthread_getschedparam(record(h)->thread, &policy, &sp);
    if (e != 0) return fail(errno_text("pthread_getschedparam", e));
    bool realtime = policy == SCHED_FIFO || policy == SCHED_RR;
    return realtime ? kPriorityTimeCritical : kPriorityNormal;
}

Result<void> PosixThreads::suspend(ThreadHandle h) {
    if (h == 0) return fail(errno_text("pthread_sigqueue", ESRCH));
    ThreadRecord* r = record(h);
    {
        std::lock_guard<std::mutex> g(r->lock);
        if (r->finished) return fail("pthread_sigqueue: the thread has ended");
        if (r->suspend_count++ > 0) return {};
        r->hold.store(1);
    }
    sigval value{};
    value.sival_ptr = r;
    int e = pthread_sigqueue(r->thread, suspend_signal(), value);
    if (e != 0) {
        std::lock_guard<std::mutex> g(r->lock);
        r->suspend_count = 0;
        r->hold.store(0);
        return fail(errno_text("pthread_sigqueue", e));
    }
    // Not parked until the handler says so. A body that ends before the
    // signal arrives never parks; look for that now and then.
    for (;;) {
        timespec deadline = monotonic_after_ns(50'000'000);
        if (sem_clockwait(&r->parked, CLOCK_MONOTONIC, &deadline) == 0) return {};
        if (errno == EINTR) continue;
        std::lock_guard<std::mutex> g(r->lock);
        if (r->finished) {
            r->suspend_count = 0;
            r->hold.store(0);
            return fail("pthread_sigqueue: the thread has ended");
        }
    }
}

Result<void> PosixThreads::resume(ThreadHandle h) {
    if (h == 0) return fail(errno_text("futex", ESRCH));
    ThreadRecord* r = record(h);
    std::lock_guard<std::mutex> g(r->lock);
    // Like ResumeThread, resuming a thread that is not suspended does nothing.
    if (r->suspend_count == 0 || --r->suspend_count > 0) return {};
    r->hold.store(0);
    futex_wake(&r->hold);
    return {};
}

void PosixThreads::sleep_ms(std::int32_t ms) {
    if (ms <= 0) {
        sched_yield();
        return;
    }
    // An absolute deadline, so a signal that cuts the sleep short (a suspend,
    // say) does not stretch it when the sleep is taken up again.
    timespec deadline = monotonic_after_ns(static_cast<std::int64_t>(ms) * 1000000);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}

Result<void> PosixThreads::raise_timer_resolution() {
    // Linux sleeps are timed by high-resolution timers already; there is no
    // system-wide timer rate to raise.
    return {};
}

}  // namespace qn::platform::posix
