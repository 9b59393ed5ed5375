// Key delivery of the whole program, driven by the simulated bell in real
// time on the real clock: each key's delivery error (when the keyboard
// service was called less the key's due time) over a run of strikes, and
// the CPU time per second of service while ringing and while idle (the
// whole process, and the program's own main and serial threads), for
// loop_sleep_ms 5, 1, 0 and -1.
//
// BM_SimKeyDeliveryBusy: the same at loop_sleep_ms 5 with busy loops beside it
// (processes at normal priority, one per argument), with the program's
// threads asking for real-time scheduling (rt 1) or not (rt 0), and the
// scheduling the serial thread and the main loop had.
//
// 2000 strikes a setting take about twenty minutes each; QN_BENCH_STRIKES
// sets fewer. Not run in CI.
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bench_util.h"
#include "serial/serial_thread.h"
#include "sim/run.h"

namespace qn::bench {
namespace {

constexpr double kIdleSeconds = 10;

long strikes_wanted() {
    const char* env = std::getenv("QN_BENCH_STRIKES");
    long n = env ? std::atol(env) : 2000;
    return n > 10 ? n : 2000;
}

struct Row {
    long keys = 0;
    double median_ms = 0, p99_ms = 0, worst_ms = 0;
    double cpu_ringing = 0, cpu_idle = 0;  // ms of CPU per second of service
    double program_cpu_idle = 0;           // the program's main and serial threads only
    std::string serial_sched, main_sched;  // as the kernel had them while ringing
};

// Never destroyed: the printers below read them as the program ends.
std::map<int, Row>& table() {
    static auto* rows = new std::map<int, Row>;
    return *rows;
}

// The table at the end of the run, after Google Benchmark's own.
struct TablePrinter {
    ~TablePrinter() {
        if (table().empty()) return;
        std::printf("\nKey delivery on the simulated bell (real time), %ld strikes a setting\n", strikes_wanted());
        std::printf("%9s %6s %10s %8s %10s %16s %15s %19s\n", "SLEEPNUM", "keys", "median ms", "p99 ms", "worst ms",
                    "CPU ms/s ringing", "CPU ms/s idle", "program ms/s idle");
        for (auto it = table().rbegin(); it != table().rend(); ++it)
            std::printf("%9d %6ld %10.2f %8.2f %10.2f %16.1f %15.1f %19.2f\n", it->first, it->second.keys,
                        it->second.median_ms, it->second.p99_ms, it->second.worst_ms, it->second.cpu_ringing,
                        it->second.cpu_idle, it->second.program_cpu_idle);
    }
} g_printer;

// The busy-loop table: (busy loops, real-time asked) to its row.
std::map<std::pair<int, int>, Row>& busy_table() {
    static auto* rows = new std::map<std::pair<int, int>, Row>;
    return *rows;
}

struct BusyTablePrinter {
    ~BusyTablePrinter() {
        if (busy_table().empty()) return;
        std::printf("\nKey delivery at SLEEPNUM 5 beside busy loops (real time), %ld strikes a run\n", strikes_wanted());
        std::printf("%5s %10s %6s %10s %8s %10s   %-15s %-15s\n", "busy", "real-time", "keys", "median ms", "p99 ms",
                    "worst ms", "comm thread", "main loop");
        for (const auto& [key, r] : busy_table())
            std::printf("%5d %10s %6ld %10.2f %8.2f %10.2f   %-15s %-15s\n", key.first, key.second ? "asked" : "not asked",
                        r.keys, r.median_ms, r.p99_ms, r.worst_ms, r.serial_sched.c_str(), r.main_sched.c_str());
    }
} g_busy_printer;

// A thread's policy and priority ("SCHED_FIFO 45", "SCHED_OTHER"); empty
// when the thread is gone.
std::string thread_sched(long tid) {
    if (tid <= 0) return {};
    const int policy = sched_getscheduler(static_cast<pid_t>(tid));
    sched_param sp{};
    if (policy < 0 || sched_getparam(static_cast<pid_t>(tid), &sp) != 0) return {};
    switch (policy & ~SCHED_RESET_ON_FORK) {
    case SCHED_FIFO: return "SCHED_FIFO " + std::to_string(sp.sched_priority);
    case SCHED_RR: return "SCHED_RR " + std::to_string(sp.sched_priority);
    default: return "SCHED_OTHER";
    }
}

// Processes that keep a processor busy at normal priority, as other work
// on a ringer's PC would, until they are dropped (or this process ends, or
// an hour has passed).
class BusyLoops {
public:
    explicit BusyLoops(int n) {
        for (int i = 0; i < n; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                sched_param normal{};
                sched_setscheduler(0, SCHED_OTHER, &normal);
                setpriority(PRIO_PROCESS, 0, 0);
                prctl(PR_SET_PDEATHSIG, SIGKILL);
                alarm(3600);
                for (;;) __asm__ __volatile__("");
            }
            if (pid > 0) pids_.push_back(pid);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : pids_) kill(pid, SIGKILL);
        for (pid_t pid : pids_) waitpid(pid, nullptr, 0);
    }
    BusyLoops(const BusyLoops&) = delete;
    BusyLoops& operator=(const BusyLoops&) = delete;

private:
    std::vector<pid_t> pids_;
};

// CPU time a thread has run, from the scheduler's own account (nanoseconds,
// unlike the 10 ms ticks of /proc/.../stat); 0 when the thread is gone.
double thread_cpu_ms(long tid) {
    if (tid <= 0) return 0;
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/schedstat");
    double ns = 0;
    return in >> ns ? ns / 1e6 : 0;
}

// CPU time against the simulation's clock, sampled every 50 ms: the whole
// process (simulated bell, ringer and this sampler included), and the
// program's own two threads, the main thread and the serial thread.
class CpuSampler {
public:
    CpuSampler(platform::sim::SimTime& time, long main_tid, const Program& program)
        : time_(time), main_tid_(main_tid), program_(program), thread_([this] { loop(); }) {}
    ~CpuSampler() { stop(); }
    void stop() {
        done_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // CPU milliseconds per second between two simulation times.
    double rate(std::int64_t from_us, std::int64_t to_us, bool program_only = false) const {
        const Sample* a = nullptr;
        const Sample* b = nullptr;
        for (const Sample& s : samples_) {
            if (!a && s.at_us >= from_us) a = &s;
            if (s.at_us <= to_us) b = &s;
        }
        if (!a || !b || b->at_us <= a->at_us) return 0;
        const double used = program_only ? b->program_ms - a->program_ms : b->cpu_ms - a->cpu_ms;
        return used * 1e6 / static_cast<double>(b->at_us - a->at_us);
    }
    std::string serial_sched, main_sched;  // as last seen

private:
    struct Sample {
        std::int64_t at_us;
        double cpu_ms;
        double program_ms;
    };
    void loop() {
        while (!done_) {
            const long serial_tid = static_cast<long>(program_.sensing.thread() ? program_.sensing.thread()->os_thread_id() : 0);
            samples_.push_back({time_.now_locked(), 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC,
                                thread_cpu_ms(main_tid_) + thread_cpu_ms(serial_tid)});
            if (std::string s = thread_sched(serial_tid); !s.empty()) serial_sched = s;
            if (std::string s = thread_sched(main_tid_); !s.empty()) main_sched = s;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    platform::sim::SimTime& time_;
    long main_tid_;
    const Program& program_;
    std::vector<Sample> samples_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

// A run in a folder of its own. Calibration is done first in virtual time:
// in real time its 1 ms polling of the lines can miss a whole pulse on a
// loaded machine, and it is not what is measured. The loop_sleep_ms comes from
// the override file the program reads after its settings.
Row run_setting(int sleepnum, int busy = 0, bool realtime = true) {
    namespace fs = std::filesystem;
    const fs::path old = fs::current_path();
    const fs::path dir = fs::temp_directory_path() / ("quennick-sim-bench-" + std::to_string(sleepnum + 10));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::current_path(dir);

    sim::SimOptions o;
    o.status_line = false;
    o.program.folder = ".";
    // Two bells at 48 minutes: a blow every 0.46 or 0.69 s, just more than
    // the 405 ms a key waits, so no key is overtaken by the next.
    o.plan.rhythm.bells = 2;
    o.plan.rhythm.peal_minutes = 48;
    sim::SimEnvironment env;
    env.embedded = true;
    env.keep_stderr = true;
    env.scheduling = realtime;
    {
        sim::SimOptions cal = o;
        cal.virtual_time = true;
        cal.plan.rows = 2;
        sim::SimRun(cal, env).run();
    }
    std::ofstream(dir / "bespoke.ini") << "sleepnum=" << sleepnum << "\r\n";
    o.idle_s = kIdleSeconds;
    o.plan.rows = strikes_wanted();
    o.plan.touch_min = o.plan.touch_max = static_cast<int>(o.plan.rows + o.plan.rows % 2);
    auto* run = new sim::SimRun(o, env);  // its serial thread may outlive the run: never freed
    Row row;
    {
        BusyLoops loops(busy);
        CpuSampler cpu(run->time(), static_cast<long>(gettid()), run->program());
        run->run();
        cpu.stop();
        row.serial_sched = cpu.serial_sched;
        row.main_sched = cpu.main_sched;
        std::vector<platform::sim::Strike> strikes;
        {
            std::lock_guard<std::mutex> g(run->time().mutex());
            strikes = run->bell().strikes_until(0);
        }
        std::int64_t first = -1, last = -1;
        for (const auto& s : strikes)
            if (s.row > 0) {
                if (first < 0) first = s.time_us;
                last = s.time_us;
            }
        if (first > 0) {
            row.cpu_ringing = cpu.rate(first, last);
            const std::int64_t idle_from = first - static_cast<std::int64_t>((kIdleSeconds - 2) * 1e6);
            row.cpu_idle = cpu.rate(idle_from, first - 2000000);
            row.program_cpu_idle = cpu.rate(idle_from, first - 2000000, true);
        }
    }
    std::vector<double> errors;
    for (const sim::KeyRecord& k : run->target().keys())
        if (k.cls == sim::KeyClass::Strike) errors.push_back(k.error_ms);
    row.keys = static_cast<long>(errors.size());
    row.median_ms = percentile(errors, 0.5);
    row.p99_ms = percentile(errors, 0.99);
    for (double e : errors)
        if (std::abs(e) > std::abs(row.worst_ms)) row.worst_ms = e;
    fs::current_path(old);
    // The run's main loop was this thread: the next run starts as any
    // program does.
    sched_param normal{};
    sched_setscheduler(0, SCHED_OTHER, &normal);
    setpriority(PRIO_PROCESS, 0, 0);
    munlockall();
    return row;
}

void BM_SimKeyDelivery(benchmark::State& state) {
    const int sleepnum = static_cast<int>(state.range(0));
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Row row = run_setting(sleepnum);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        table()[sleepnum] = row;
        state.counters["keys"] = static_cast<double>(row.keys);
        state.counters["median_ms"] = row.median_ms;
        state.counters["p99_ms"] = row.p99_ms;
        state.counters["worst_ms"] = row.worst_ms;
        state.counters["cpu_ms_per_s_ringing"] = row.cpu_ringing;
        state.counters["cpu_ms_per_s_idle"] = row.cpu_idle;
        state.counters["program_cpu_ms_per_s_idle"] = row.program_cpu_idle;
    }
}
BENCHMARK(BM_SimKeyDelivery)->ArgName("sleepnum")->Arg(5)->Arg(1)->Arg(0)->Arg(-1)->Iterations(1)->UseManualTime()
    ->Unit(benchmark::kSecond);

void BM_SimKeyDeliveryBusy(benchmark::State& state) {
    const int busy = static_cast<int>(state.range(0));
    const bool realtime = state.range(1) != 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Row row = run_setting(5, busy, realtime);
        state.SetIterationTime(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        busy_table()[{busy, realtime ? 1 : 0}] = row;
        state.counters["keys"] = static_cast<double>(row.keys);
        state.counters["median_ms"] = row.median_ms;
        state.counters["p99_ms"] = row.p99_ms;
        state.counters["worst_ms"] = row.worst_ms;
        state.counters["main_loop_realtime"] = row.main_sched.rfind("SCHED_OTHER", 0) == 0 ? 0 : 1;
    }
}
BENCHMARK(BM_SimKeyDeliveryBusy)->ArgNames({"busy", "rt"})->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Iterations(1)
    ->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace
}  // namespace qn::bench
