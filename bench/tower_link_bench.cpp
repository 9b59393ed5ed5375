// The tower link's timing against the tests' tower server on loopback
// (tests/link/tower_server.py, plain HTTP): rings due 300 ms after they are
// handed over, 100 ms apart. Per ring: how long after the time the program
// gave the link (the due time, or the due time less the lead when sent
// ahead) the frame was taken in by the server ("socket"), and how far from
// its due time the server handled it after its hold each way ("arrival").
//
//   delay_ms: the server's hold each way; ahead 0: each ring is sent at its
//   due time by the caller's precise wait (as keys are), 1: handed over
//   ahead and sent by the link's thread.
//
// QN_BENCH_RINGS sets the rings a run (200). Not run in CI.
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_util.h"
#include "link/live/live_util.h"
#include "link/session.h"
#include "platform/platform.h"
#include "platform/posix/posix_services.h"

namespace qn::bench {
namespace {

using livetest::mono_us;

int rings_wanted() {
    const char* env = std::getenv("QN_BENCH_RINGS");
    const int n = env ? std::atoi(env) : 200;
    return n > 0 ? n : 200;
}

void BM_TowerLinkTiming(benchmark::State& state) {
    const int delay_ms = static_cast<int>(state.range(0));
    const bool ahead = state.range(1) != 0;
    const int rings = rings_wanted();
    livetest::TempDir t;
    livetest::ServerOptions o;
    o.events = t.file("events.jsonl");
    o.delay_ms = delay_ms;
    livetest::TowerServer server(o);
    platform::Platform& plat = platform::native_platform();
    auto net = platform::posix::make_network();
    link::LinkConfig cfg;
    cfg.tower_id = 123456789;
    cfg.site = server.site();
    cfg.clock_us = [] { return mono_us(); };  // the server's clock too
    cfg.sleep_until_us = [&plat](std::int64_t us) { plat.wait->sleep_until(us * 1000); };
    cfg.send_ahead = ahead;
    link::TowerLink l(*net, cfg);
    l.start();
    if (!livetest::eventually([&] { return l.counters().network_us >= 0; })) {
        state.SkipWithError("the link did not join and time the network");
        return;
    }
    struct Ring {
        std::int64_t due_us = 0, given_us = 0;
        std::uint64_t ticket = 0;
    };
    std::vector<Ring> sent(static_cast<std::size_t>(rings));
    for (auto _ : state) {
        const std::int64_t t0 = mono_us() + 100'000;
        // Handing over and claiming, in time order: ring i is handed over at
        // t0 + 100 i ms and due 300 ms later.
        for (int step = 0; step < rings + 3; ++step) {
            const std::int64_t at = t0 + std::int64_t{step} * 100'000;
            plat.wait->sleep_until(at * 1000);
            if (step < rings) {
                Ring& r = sent[static_cast<std::size_t>(step)];
                r.due_us = at + 300'000;
                if (ahead) {
                    r.ticket = l.ring_ahead(3, r.due_us);
                    r.given_us = r.due_us - l.counters().lead_us;
                }
            }
            if (step >= 3) {
                Ring& r = sent[static_cast<std::size_t>(step - 3)];
                if (r.ticket != 0) {
                    (void)l.claim(r.ticket);
                } else {
                    r.given_us = r.due_us;
                    (void)l.ring_in_turn(3);
                }
            }
        }
    }
    (void)livetest::eventually([&] {
        return static_cast<int>(livetest::events_named(o.events, "c_bell_rung").size()) >= rings;
    });
    const auto got = livetest::events_named(o.events, "c_bell_rung");
    std::vector<double> socket_us, arrival_us;
    for (std::size_t i = 0; i < got.size() && i < sent.size(); ++i) {
        const std::int64_t handled = got[i]["t_us"].get<std::int64_t>();
        socket_us.push_back(static_cast<double>(handled - std::int64_t{delay_ms} * 1000 - sent[i].given_us));
        arrival_us.push_back(static_cast<double>(handled - sent[i].due_us));
    }
    for (double& v : arrival_us) v = v < 0 ? -v : v;
    state.counters["rings"] = static_cast<double>(got.size());
    state.counters["socket_median_us"] = percentile(socket_us, 0.5);
    state.counters["socket_p99_us"] = percentile(socket_us, 0.99);
    state.counters["arrival_abs_median_us"] = percentile(arrival_us, 0.5);
    state.counters["arrival_abs_p99_us"] = percentile(arrival_us, 0.99);
    state.counters["network_us"] = static_cast<double>(l.counters().network_us);
    l.stop();
}

BENCHMARK(BM_TowerLinkTiming)
    ->ArgNames({"delay_ms", "ahead"})
    ->Args({0, 0})
    ->Args({0, 1})
    ->Args({40, 0})
    ->Args({40, 1})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace qn::bench
