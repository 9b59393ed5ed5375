// From a modem-line change being signalled by the port to its ring slot
// being published, through the serial thread's own per-event step running on
// a real thread at the highest priority it can get.
#include <atomic>
#include <chrono>
#include <thread>

#include "bench_util.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "serial/sensing.h"
#include "serial/serial_thread.h"

namespace qn::bench {
namespace {

using Clock = std::chrono::steady_clock;

// A port whose lines change when the benchmark says so; the waiting thread
// spins, as a driver's interrupt would wake it at once.
class SignalledPort : public test::ScriptedSerial {
public:
    explicit SignalledPort(test::FakeClock& c) : ScriptedSerial(c) {}
    platform::Result<std::uint32_t> wait_event(platform::PortHandle) override {
        while (pending.load(std::memory_order_acquire) == taken) {
            if (stop.load()) return platform::fail("stopped");
        }
        ++taken;
        return platform::kEventCts;
    }
    platform::Result<std::uint32_t> modem_status(platform::PortHandle) override {
        return (taken % 2) ? platform::kLineCts : 0u;
    }
    std::atomic<long> pending{0};
    long taken = 0;
    std::atomic<bool> stop{false};
};

void BM_LineChangeToPublishedSlot(benchmark::State& state) {
    test::FakePlatform fp;
    SignalledPort port(fp.clock);
    fp.plat.serial = &port;
    fp.plat.clock = platform::native_platform().clock;
    fp.plat.threads = platform::native_platform().threads;
    port.add_port("COM1");
    auto owned = make_program(fp.plat);
    Program& program = *owned;
    program.clock.start();
    program.cfg.use_line[ModemLine::Cts] = true;
    program.cfg.transient_ms = 0;
    PortHandle h = port.open("COM1").value();
    std::thread t([&] {
        SerialThread& thread = program.sensing.make_thread(h, program.cfg.use_line);
        thread.start_watching();
        while (thread.take_event()) {
        }
    });
    while (!program.sensing.thread_running()) std::this_thread::yield();

    std::vector<double> micros;
    for (auto _ : state) {
        const std::int32_t before = program.event_ring.recorded();
        const auto signalled = Clock::now();
        port.pending.fetch_add(1, std::memory_order_release);
        while (program.event_ring.recorded() == before) {
        }
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - signalled).count());
    }
    program.sensing.thread()->end();
    port.stop = true;
    t.join();
    report(state, micros);
}
BENCHMARK(BM_LineChangeToPublishedSlot)->Iterations(20000)->UseRealTime();

}  // namespace
}  // namespace qn::bench
