// Which scheduling the timing threads take, best first, and the run-log
// line that says what they got and what refused them.
#include <gtest/gtest.h>

#include "core/scheduling.h"
#include "fakes/fake_platform.h"

namespace qn::test {
namespace {

using platform::fail;
using platform::not_supported;
using platform::Result;

const Result<std::string> kFifoRefused = fail("sched_setscheduler(SCHED_FIFO, 45): Operation not permitted, RLIMIT_RTPRIO 0");
const Result<std::string> kNoBus =
    fail("RealtimeKit: sd_bus_open_system: No such file or directory (no system bus)");
const Result<std::string> kNiceRefused = fail("setpriority(nice -5): Permission denied, RLIMIT_NICE 0");

struct Case {
    const char* what;
    TimingThread who;
    int sleepnum;
    bool data_mode;
    Result<std::string> realtime, broker, raise;
    std::string line;   // the whole log line
    std::string calls;  // the ways asked, in order
};

TEST(Scheduling, TheBestWayGrantedIsTakenAndEveryBetterRefusalIsLogged) {
    const Result<std::string> none = not_supported("x");
    const Case cases[] = {
        {"granted at once", TimingThread::Serial, 5, false, std::string("SCHED_FIFO priority 45"), kNoBus, none,
         "Comm thread scheduling: real-time, SCHED_FIFO priority 45", "realtime critical"},
        {"the broker", TimingThread::Serial, 5, false, kFifoRefused, std::string("SCHED_RR priority 20 from RealtimeKit"),
         none,
         "Comm thread scheduling: real-time, SCHED_RR priority 20 from RealtimeKit (refused: " + kFifoRefused.error() +
             ")",
         "realtime critical, broker critical"},
        {"no bus", TimingThread::MainLoop, 5, false, kFifoRefused, kNoBus, std::string("nice -5"),
         "Main loop scheduling: not real-time, nice -5 (refused: " + kFifoRefused.error() + "; " + kNoBus.error() +
             "); ask the fake",
         "lock, realtime high, broker high, raise high"},
        {"all refused", TimingThread::MainLoop, 5, false, kFifoRefused, kNoBus, kNiceRefused,
         "Main loop scheduling: not real-time, normal priority (refused: " + kFifoRefused.error() + "; " +
             kNoBus.error() + "; " + kNiceRefused.error() + "); ask the fake",
         "lock, realtime high, broker high, raise high"},
        {"no broker on this system", TimingThread::Serial, 5, false, fail("LoadLibrary(avrt.dll): not found"), none,
         std::string("THREAD_PRIORITY_TIME_CRITICAL"),
         "Comm thread scheduling: not real-time, THREAD_PRIORITY_TIME_CRITICAL (refused: LoadLibrary(avrt.dll): not "
         "found); ask the fake",
         "realtime critical, broker critical, raise critical"},
        {"a loop that yields", TimingThread::MainLoop, 0, false, std::string("SCHED_FIFO priority 40"), none, none,
         "Main loop scheduling: normal priority, not asked: with SLEEPNUM 0 the loop never waits, and at real-time "
         "priority it would hold a processor",
         "lock"},
        {"data mode always waits", TimingThread::MainLoop, -1, true, std::string("SCHED_FIFO priority 40"), none, none,
         "Main loop scheduling: real-time, SCHED_FIFO priority 40", "lock, realtime high"},
    };
    for (const Case& k : cases) {
        Harness h;
        h.fp.scheduling.realtime_answer = k.realtime;
        h.fp.scheduling.broker_answer = k.broker;
        h.fp.scheduling.raise_answer = k.raise;
        ask_for_realtime(h.program().plat.scheduling, h.program().run_log, k.who, LoopPace{k.sleepnum, k.data_mode});
        EXPECT_NE(h.log().find(k.line + "\r\n"), std::string::npos) << k.what << ": " << h.log();
        std::string calls;
        for (const auto& call : h.fp.scheduling.calls) calls += (calls.empty() ? "" : ", ") + call;
        EXPECT_EQ(calls, k.calls) << k.what;
    }
}

TEST(Scheduling, TheMainLoopLocksMemoryWhereTheSystemHasAWayAndSaysWhy) {
    const std::pair<Result<std::string>, std::string> cases[] = {
        {std::string("locked in RAM (mlockall)"), "Memory: locked in RAM (mlockall)\r\n"},
        {fail("mlockall: Cannot allocate memory, RLIMIT_MEMLOCK 8192 kB"),
         "Memory: not locked, a page fault may delay a key: mlockall: Cannot allocate memory, RLIMIT_MEMLOCK 8192 kB\r\n"},
        {not_supported("lock_memory"), ""},
    };
    for (const auto& [answer, line] : cases) {
        Harness h;
        h.fp.scheduling.lock_answer = answer;
        ask_for_realtime(h.program().plat.scheduling, h.program().run_log, TimingThread::MainLoop, LoopPace{5, false});
        if (line.empty())
            EXPECT_EQ(h.log().find("Memory:"), std::string::npos) << h.log();
        else
            EXPECT_NE(h.log().find(line), std::string::npos) << h.log();
    }
    // Where threads take turns (virtual time) nothing is asked.
    Harness h;
    h.fp.plat.scheduling = nullptr;
    ask_for_realtime(h.program().plat.scheduling, h.program().run_log, TimingThread::Serial);
    EXPECT_NE(h.log().find("Comm thread scheduling: as given, not asked (no scheduling service here)\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace qn::test
