// The automatic ringer: the beat clock that rings the bells it was given
// from a touch, a whole pull (two rows) at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <set>
#include <string>

#include "core/text_sink.h"
#include "autoring/touch.h"

namespace qn {

class Dialog;
class StrikeReport;
class RunClock;

inline constexpr int kDefaultAutoBells = 6;
inline constexpr int kDefaultPealMinutes = 180;

class AutoRinger {
public:
    // send_key rings or types one key at the target.
    AutoRinger(const Touch& touch, const RunClock& clock, TextSink& log, Dialog& dialog,
               std::function<void(char)> send_key);

    // What the set-up chose: the bells of the touch, the marks of the bells
    // to ring (position b holds bell b's symbol, or a blank), and the speed.
    void set_up(std::int32_t bells, std::string keys, std::int32_t peal_minutes);
    // A set-up given up leaves the ringer to be set up again before it rings.
    void forget_set_up() { set_up_ = false; }
    bool is_set_up() const { return set_up_; }
    std::int32_t bells() const { return bells_; }
    const std::string& keys() const { return keys_; }
    std::int32_t peal_minutes() const { return peal_minutes_; }
    std::int64_t interval_ms() const { return interval_ms_; }

    // The touch from its start; the first start sends the start key again.
    void rewind_for_first_start();
    // The touch from its start, the beat clock stopped.
    void rewind();
    // Switched on or off; false: off.
    bool toggle();
    void stop() { running_ = false; }
    bool running() const { return running_; }
    bool first_ring() const { return first_ring_; }
    std::int32_t row() const { return row_; }
    std::int64_t due_ms() const { return due_ms_; }
    // Beats rung of the pull loaded (0: at the handstroke gap), and its keys.
    std::int32_t key_count() const { return key_count_; }
    const std::string& double_row_keys() const { return double_row_keys_; }

    // The beats of the ringer's own bell go to report (its ideal times);
    // tower_bell names the bell the tower link rings for the ringer (0: none).
    void tell_beats_to(StrikeReport& report, std::function<std::int32_t()> tower_bell) {
        beats_ = &report;
        tower_bell_ = std::move(tower_bell);
    }

    // The bells ringers in the tower ring (band mode; empty: one ringer).
    // The driver never rings them, whatever the marks say, and their beats
    // are the ringers' beats, as the one ringer's bell is without a band.
    void leave_to_band(std::set<std::int32_t> bells) { band_bells_ = std::move(bells); }
    const std::set<std::int32_t>& band_bells() const { return band_bells_; }

    // One step; returns 'A' when ringing must stop, else '\0'. Nothing rings
    // while the target has lost the focus.
    char step(bool window_focus);
    // When the step will next ring a beat, in stopwatch microseconds; -1 when
    // no beat is waiting for the clock.
    std::int64_t next_beat_due(bool window_focus) const;
    bool next_double_row();
    void half_double_row();
    void export_key(char ch);

private:
    char first_start();
    char beat();
    bool rung_by_driver(char symbol) const;
    std::int32_t ringer_bell() const;
    bool is_ringers_bell(std::int32_t bell) const;
    void tell_ringer_beat();
    std::int64_t elapsed_ms() const;

    const Touch& touch_;
    const RunClock& clock_;
    TextSink& log_;
    Dialog& dialog_;
    std::function<void(char)> send_key_;
    StrikeReport* beats_ = nullptr;
    std::function<std::int32_t()> tower_bell_;
    std::set<std::int32_t> band_bells_;

    bool set_up_ = false;

    std::int32_t bells_ = kDefaultAutoBells;
    std::string keys_;
    std::int32_t peal_minutes_ = kDefaultPealMinutes;
    std::int64_t interval_ms_ = 329;
    std::int32_t key_count_ = 0;
    bool running_ = false;
    std::int64_t due_ms_ = 0;
    std::int32_t row_ = kFirstRow;
    std::string double_row_keys_;
    bool first_ring_ = false;
};

}  // namespace qn
