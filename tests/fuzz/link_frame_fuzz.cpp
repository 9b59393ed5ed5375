// Any bytes as a message from a tower's server: the frame parser and the
// reading of tower events must take them without a crash, and what they
// accept must hold what the link relies on.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/protocol.h"
#include "link/resolve.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qn::link;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Frame f = parse_frame(text);
    if (f.kind == FrameKind::Open && (f.open.ping_interval_ms < 0 || f.open.ping_timeout_ms < 0)) __builtin_trap();
    const TowerEvent e = interpret_event(f);
    if (e.kind == EventKind::BellRung && (e.who_rang < 1 || e.who_rang > kMaxTowerBells)) __builtin_trap();
    if (e.bell_state.size() > static_cast<std::size_t>(kMaxTowerBells)) __builtin_trap();
    if (f.kind == FrameKind::Event) (void)event_frame(f.name, f.data);  // what came in can go out again
    // The same bytes as a tower page and as a server address.
    const std::string url = socket_url_for(server_on_page(text));
    if (!url.empty() && url.find('"') != std::string::npos) __builtin_trap();
    return 0;
}
