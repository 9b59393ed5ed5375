#include "core/scheduling.h"

#include <vector>

#include "core/text.h"
#include "core/text_sink.h"
#include "platform/scheduling.h"

namespace qn {

namespace {

bool unsupported(const std::string& error) {
    const std::string tail = platform::kNotSupported;
    return error.size() >= tail.size() && error.compare(error.size() - tail.size(), tail.size(), tail) == 0;
}

// loop_sleep_ms 0 gives up the time slice and -1 never waits: such a loop at
// real-time priority would hold a processor for good (and, where the kernel
// limits real-time CPU time, be stopped for it). Data mode always waits.
bool loop_waits(LoopPace pace) { return pace.data_mode || pace.loop_sleep_ms > 0; }

void lock_memory(platform::Scheduling& s, TextSink& log) {
    auto r = s.lock_memory();
    if (r.ok())
        log.write_line("Memory: " + r.value());
    else if (!unsupported(r.error()))
        log.write_line("Memory: not locked, a page fault may delay a key: " + r.error());
}

}  // namespace

void ask_for_realtime(platform::Scheduling* s, TextSink& log, TimingThread who, LoopPace pace) {
    const std::string head = who == TimingThread::Serial ? "Comm thread scheduling: " : "Main loop scheduling: ";
    if (!s) {
        log.write_line(head + "as given, not asked (no scheduling service here)");
        return;
    }
    if (who == TimingThread::MainLoop) {
        lock_memory(*s, log);
        if (!loop_waits(pace)) {
            log.write_line(head + "normal priority, not asked: with SLEEPNUM " + str(pace.loop_sleep_ms) +
                           " the loop never waits, and at real-time priority it would hold a processor");
            return;
        }
    }
    const auto u = who == TimingThread::Serial ? platform::Urgency::Critical : platform::Urgency::High;
    std::vector<std::string> refused;
    auto granted = [&](const platform::Result<std::string>& r) {
        if (!r.ok() && !unsupported(r.error())) refused.push_back(r.error());
        return r.ok();
    };
    std::string got;
    bool realtime = true;
    if (auto r = s->realtime(u); granted(r)) {
        got = r.value();
    } else if (auto b = s->realtime_by_broker(u); granted(b)) {
        got = b.value();
    } else {
        realtime = false;
        auto p = s->raise(u);
        got = granted(p) ? p.value() : "normal priority";
    }
    std::string line = head + (realtime ? "real-time, " : "not real-time, ") + got;
    for (std::size_t i = 0; i < refused.size(); ++i) line += (i == 0 ? " (refused: " : "; ") + refused[i];
    if (!refused.empty()) line += ")";
    if (!realtime) line += "; " + s->how_to_allow();
    log.write_line(line);
}

}  // namespace qn
