#include "serial/event_ring.h"

namespace qn {

const char* shape_comment(EventShape shape) {
    switch (shape) {
    case EventShape::Startup: return "startup";
    case EventShape::Short: return "shortsignal";
    case EventShape::Dropout: return "shortsignal dropout OMITTED";
    case EventShape::Interference: return "shortsignal - presumed interference - OMITTED";
    case EventShape::Normal: break;
    }
    return "";
}

void EventRing::begin(const LineEvent& start) {
    taken_ = 0;
    start_ = start;
    omitted_count_ = 0;
}

void EventRing::omit(const LineEvent& e) {
    std::int32_t n = omitted_count_.load();
    if (n < kEventRingSize) omitted_count_ = ++n;
    omitted_[static_cast<std::size_t>(n - 1)] = e;
}

std::int32_t EventRing::skip_overwritten() {
    // The slot after the newest event may be being written right now, so
    // only the newest ring length less one are safe to read.
    const std::int32_t oldest_safe = recorded() - (kEventRingSize - 1);
    if (taken_ >= oldest_safe) return 0;
    const std::int32_t lost = oldest_safe - taken_;
    taken_ = oldest_safe;
    lost_ += lost;
    return lost;
}

void EventRing::clear() {
    taken_ = 0;
    recorded_.store(0, std::memory_order_release);
}

}  // namespace qn
