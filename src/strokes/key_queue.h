// The keys waiting for their due time, one per sensing point, the stroke
// the next one is for, and the touch's output records for its event log.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "config/settings.h"
#include "core/strike_records.h"

namespace qn {

class KeyQueue {
public:
    // The point's key is due at due_us (a key still pending is replaced).
    // Returns the due time of the point's key before it.
    std::int64_t queue(std::int32_t point, std::int64_t due_us);
    // Sent, or dropped: the point has no key waiting.
    void settle(std::int32_t point) { pending_[index(point)] = false; }
    void settle_all() { pending_.fill(false); }
    bool pending(std::int32_t point) const { return pending_[index(point)]; }
    std::int64_t due_us(std::int32_t point) const { return due_us_[index(point)]; }
    // Of the first `points` points: any key waiting, and the earliest due
    // time after now_us (-1: none).
    bool any_pending(std::int32_t points) const;
    std::int64_t next_due_us(std::int32_t points, std::int64_t now_us) const;

    // The stroke of the next key (true: handstroke); a key sent turns it.
    bool handstroke() const { return handstroke_; }
    void set_handstroke(bool hand) { handstroke_ = hand; }
    void turn_stroke() { handstroke_ = !handstroke_; }
    // A missed strike was judged: the next key sent goes twice.
    bool doubled_due() const { return doubled_due_; }
    void set_doubled_due(bool due) { doubled_due_ = due; }

    // The touch's output records. A list filled by ringing that never pauses
    // takes no more until it is emptied: record() says false then.
    bool record(std::int32_t point, std::int64_t event_us);
    // Whether the newest record's key went doubled (no record: nothing).
    void note_doubled(bool doubled);
    std::span<const Output> outputs() const { return {outputs_.data(), static_cast<std::size_t>(output_count_)}; }
    std::int32_t output_count() const { return output_count_; }
    bool outputs_full() const { return output_count_ >= static_cast<std::int32_t>(outputs_.size()); }
    void clear_outputs() { output_count_ = 0; }

private:
    static std::size_t index(std::int32_t point);

    std::array<std::int64_t, kMaxSensors> due_us_{};
    std::array<std::int64_t, kMaxSensors> last_due_us_{};
    std::array<bool, kMaxSensors> pending_{};
    std::array<Output, kMaxRows> outputs_{};
    std::int32_t output_count_ = 0;
    bool handstroke_ = false;
    bool doubled_due_ = false;
};

}  // namespace qn
