#include "strokes/key_queue.h"

namespace qn {

std::size_t KeyQueue::index(std::int32_t point) {
    if (point < 0 || point >= kMaxSensors) bounds_failure(point, 0, kMaxSensors - 1);
    return static_cast<std::size_t>(point);
}

std::int64_t KeyQueue::queue(std::int32_t point, std::int64_t due_us) {
    const std::size_t i = index(point);
    const std::int64_t before = last_due_us_[i];
    due_us_[i] = due_us;
    pending_[i] = true;
    last_due_us_[i] = due_us;
    return before;
}

bool KeyQueue::any_pending(std::int32_t points) const {
    for (std::int32_t p = 0; p < points && p < kMaxSensors; ++p)
        if (pending_[static_cast<std::size_t>(p)]) return true;
    return false;
}

std::int64_t KeyQueue::next_due_us(std::int32_t points, std::int64_t now_us) const {
    std::int64_t next = -1;
    for (std::int32_t p = 0; p < points && p < kMaxSensors; ++p) {
        const std::size_t i = static_cast<std::size_t>(p);
        if (pending_[i] && due_us_[i] > now_us && (next < 0 || due_us_[i] < next)) next = due_us_[i];
    }
    return next;
}

bool KeyQueue::record(std::int32_t point, std::int64_t event_us) {
    if (outputs_full()) return false;
    outputs_[static_cast<std::size_t>(output_count_++)] = Output{point, event_us, false};
    return true;
}

void KeyQueue::note_doubled(bool doubled) {
    if (output_count_ > 0) outputs_[static_cast<std::size_t>(output_count_ - 1)].doubled = doubled;
}

}  // namespace qn
