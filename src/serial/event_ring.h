// The line events of the serial thread, handed to the main thread: a ring
// with one writer (the serial thread) and one reader (the main thread), and
// the list of events the thread left out, for the touch's event log.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

namespace qn {

inline constexpr int kEventRingSize = 512;

// What the serial thread made of a line change.
enum class EventShape : std::uint8_t { Normal, Startup, Short, Dropout, Interference };

// The event log's comment for a shape ("" for a normal event).
const char* shape_comment(EventShape shape);

struct LineEvent {
    std::int64_t time_us = 0;
    std::uint32_t status = 0;  // the modem status word
    EventShape shape = EventShape::Normal;
};

// Events are numbered from 1 as the thread records them; number 0 is the
// lines' state when the thread started. A number more than a ring's length
// back has been overwritten by a later event.
class EventRing {
public:
    // ---- the writer (the serial thread) ----
    // The lines at the start; the omitted list starts empty.
    void begin(const LineEvent& start);
    // The slot the next event goes in, to be filled before publish().
    LineEvent& next() { return slots_[slot_of(recorded_.load(std::memory_order_relaxed) + 1)]; }
    // The next event is complete: the reader may take it.
    void publish() { recorded_.fetch_add(1, std::memory_order_release); }
    // An event left out of the ring; past the list's end the last entry is
    // overwritten.
    void omit(const LineEvent& e);

    // ---- the reader (the main thread) ----
    // The number of the newest event (0: none yet).
    std::int32_t recorded() const { return recorded_.load(std::memory_order_acquire); }
    // Event n (0: the start), which must be within a ring's length of the newest.
    const LineEvent& event(std::int32_t n) const { return n == 0 ? start_ : slots_[slot_of(n)]; }
    // The number of the last event taken.
    std::int32_t taken() const { return taken_; }
    bool unread() const { return taken_ < recorded(); }
    // The next event not yet taken.
    const LineEvent& take() { return event(++taken_); }
    // A reader more than a ring's length behind would read overwritten
    // slots: it moves on to the oldest intact event. Returns the number lost.
    std::int32_t skip_overwritten();
    std::int64_t lost() const { return lost_; }
    // Empties the ring; only while the writer is held.
    void clear();

    std::int32_t omitted_count() const { return omitted_count_.load(); }
    // Omitted event i, from 0.
    const LineEvent& omitted(std::int32_t i) const { return omitted_[static_cast<std::size_t>(i)]; }

private:
    static std::size_t slot_of(std::int32_t n) { return static_cast<std::size_t>((n - 1) % kEventRingSize); }

    LineEvent start_;
    std::array<LineEvent, kEventRingSize> slots_{};
    std::atomic<std::int32_t> recorded_{0};
    std::int32_t taken_ = 0;
    std::int64_t lost_ = 0;
    std::array<LineEvent, kEventRingSize> omitted_{};
    std::atomic<std::int32_t> omitted_count_{0};
};

}  // namespace qn
