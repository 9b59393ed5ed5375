// One strike's path in the main thread: from a published ring slot to a
// pending key (the watch loop and the output scheduler), on the real
// stopwatch.
#include <chrono>

#include "bench_util.h"
#include "core/timing.h"
#include "fakes/fake_platform.h"
#include "keyout/targets.h"
#include "serial/serial_thread.h"
#include "strokes/watchports.h"

namespace qn::bench {
namespace {

using Clock = std::chrono::steady_clock;

void BM_PublishedSlotToPendingKey(benchmark::State& state) {
    test::FakePlatform fp;
    fp.plat.clock = platform::native_platform().clock;
    auto owned = make_program(fp.plat);
    Program& program = *owned;
    program.clock.start();
    program.cfg.use_line[ModemLine::Cts] = true;
    program.cfg.sensor_count = 1;
    program.cfg.target_program = "Open";
    set_target_defaults(program.target, program.cfg.sensor_count);
    load_target_parameters(program.target, *program.plat.windows, "Open");
    program.screen.set_auto_present(false);
    EventRing& ring = program.event_ring;
    std::vector<double> micros;
    std::int32_t n = 0;
    for (auto _ : state) {
        // Strikes half a second apart on the stopwatch's own scale.
        ++n;
        ring.next() = {500000LL * n, (n % 2) ? platform::kLineCts : 0u, EventShape::Normal};
        ring.publish();
        program.strikes->keys().clear_outputs();  // the pause would empty it
        const auto start = Clock::now();
        program.port_watch->watch_once();
        micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    report(state, micros);
}
BENCHMARK(BM_PublishedSlotToPendingKey)->Iterations(20000)->UseRealTime();

}  // namespace
}  // namespace qn::bench

BENCHMARK_MAIN();
