#include "autoring/driver.h"

#include <string>

#include "autoring/methodfile.h"
#include "core/text_sink.h"
#include "core/dialog.h"
#include "core/strike_records.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/menus.h"

namespace qn {

namespace {

constexpr std::int32_t kStartPauseMs = 4000;

bool is_call_key(char ch) {
    switch (ch) {
        case 'b': case 'n': case 'B': case 'N': case 'g': case 'h': case 'l': case 't':
            return true;
        default:
            return false;
    }
}

bool is_sent_bell_symbol(char ch) { return (ch >= '0' && ch <= '9') || ch == 'E' || ch == 'T'; }

}  // namespace

AutoRinger::AutoRinger(const Touch& touch, const RunClock& clock, TextSink& log, Dialog& dialog,
                       std::function<void(char)> send_key)
    : touch_(touch), clock_(clock), log_(log), dialog_(dialog), send_key_(std::move(send_key)) {}

void AutoRinger::set_up(std::int32_t bells, std::string keys, std::int32_t peal_minutes) {
    bells_ = bells;
    keys_ = std::move(keys);
    peal_minutes_ = peal_minutes;
    // A 5040-row peal is 2520 whole pulls of 2N+1 beats each.
    interval_ms_ = static_cast<std::int64_t>(peal_minutes) * 1000 / (42 * (2 * bells + 1));
    key_count_ = 0;
    set_up_ = true;
}

void AutoRinger::rewind_for_first_start() {
    first_ring_ = true;
    row_ = kFirstRow;
}

void AutoRinger::rewind() {
    due_ms_ = 0;
    row_ = kFirstRow;
}

bool AutoRinger::toggle() { return running_ = !running_; }

std::int64_t AutoRinger::elapsed_ms() const { return clock_.elapsed_ms(); }

// A bell the driver rings has a mark at its number in keys and is no bell
// of the band. A
// character that is no bell symbol, or a bell beyond the marks (the mask of a
// non-Ringing-Room target has only N positions), is a bell it does not ring.
bool AutoRinger::rung_by_driver(char symbol) const {
    const std::int32_t bell = bell_number(symbol);
    if (bell < 1 || static_cast<std::size_t>(bell) > keys_.size()) return false;
    if (band_bells_.contains(bell)) return false;
    return keys_[static_cast<std::size_t>(bell) - 1] != ' ';
}

// The ringer's bell is one the driver leaves: the one the tower link's "j"
// rings when it is left, else the first left in the row.
std::int32_t AutoRinger::ringer_bell() const {
    auto left = [this](std::int32_t b) {
        return b >= 1 && b <= bells_ &&
               (static_cast<std::size_t>(b) > keys_.size() || keys_[static_cast<std::size_t>(b) - 1] == ' ');
    };
    const std::int32_t tower_bell = tower_bell_ ? tower_bell_() : 0;
    if (tower_bell > 0 && left(tower_bell)) return tower_bell;
    for (std::int32_t b = 1; b <= bells_; ++b)
        if (left(b)) return b;
    return 0;
}

// With a band every bell of the band is a ringer's; else the one ringer's.
bool AutoRinger::is_ringers_bell(std::int32_t bell) const {
    if (!band_bells_.empty()) return band_bells_.contains(bell);
    return bell == ringer_bell();
}

// The beat just taken, when it is a ringer's bell's in its row: the pull
// loaded last is rows row - 2 (handstroke) and row - 1.
void AutoRinger::tell_ringer_beat() {
    if (!beats_) return;
    const bool hand = key_count_ <= bells_;
    const std::int32_t place = hand ? key_count_ : key_count_ - bells_;
    const long row = static_cast<long>(row_) - (hand ? 2 : 1);
    const std::string& bells = touch_.bells_at(row);
    if (place < 1 || static_cast<std::size_t>(place) > bells.size()) return;
    const std::int32_t bell = bell_number(bells[static_cast<std::size_t>(place) - 1]);
    if (bell == 0 || !is_ringers_bell(bell)) return;
    RingerBeat r;
    r.row = static_cast<std::int32_t>(row);
    r.handstroke = hand;
    r.bells = bells_;
    r.bell = bell;
    r.place = place;
    r.bell_before = place > 1 ? bell_number(bells[static_cast<std::size_t>(place) - 2]) : 0;
    r.ideal_us = (due_ms_ + 1) * 1000;  // the step rings a beat once the millisecond clock is past it
    r.beat_us = interval_ms_ * 1000;
    beats_->ringer_beat(r);
}

// The first start after a set-up: the first pull is loaded here and the
// start key sent once more before the clock runs.
char AutoRinger::first_start() {
    if (!next_double_row()) {
        const std::string line = "Length of rows does not match number of bells - turning off autokeypress";
        dialog_.write_line(line);
        log_.write_line(line);
        return 'A';
    }
    first_ring_ = false;
    export_key('l');
    dialog_.pause_ms(kStartPauseMs);
    due_ms_ = elapsed_ms();
    return '\0';
}

// One beat of the pull: a stroke, or the handstroke gap that loads the next.
char AutoRinger::beat() {
    due_ms_ += interval_ms_;
    key_count_ += 1;
    if (key_count_ <= 2 * bells_) {
        if (key_count_ == bells_) half_double_row();
        tell_ringer_beat();
        const auto pos = static_cast<std::size_t>(key_count_);
        if (pos >= 1 && double_row_keys_.size() >= pos && double_row_keys_[pos - 1] != ' ')
            export_key(double_row_keys_[pos - 1]);
        return '\0';
    }
    key_count_ = 0;
    return next_double_row() ? '\0' : 'A';
}

char AutoRinger::step(bool window_focus) {
    if (!window_focus) return '\0';
    if (row_ >= touch_.row_count + 3) return 'A';
    if (!running_) return '\0';
    if (first_ring_ && first_start() == 'A') return 'A';
    const std::int64_t now = elapsed_ms();
    if (due_ms_ == 0) due_ms_ = now;
    if (now > due_ms_ + interval_ms_) return beat();
    return '\0';
}

std::int64_t AutoRinger::next_beat_due(bool window_focus) const {
    if (!running_ || first_ring_ || due_ms_ == 0 || !window_focus) return -1;
    // The step rings once the millisecond clock is past the beat's time.
    return (due_ms_ + interval_ms_ + 1) * 1000;
}

bool AutoRinger::next_double_row() {
    std::string pull = touch_.bells_at(row_) + touch_.bells_at(static_cast<long>(row_) + 1);
    if (static_cast<std::int64_t>(pull.size()) != 2 * static_cast<std::int64_t>(bells_)) {
        double_row_keys_.clear();
        return false;
    }
    for (char& ch : pull)
        if (!rung_by_driver(ch)) ch = ' ';
    double_row_keys_ = pull;
    const char hand_call = touch_.call_at(static_cast<long>(row_) + 2);
    const char back_call = touch_.call_at(static_cast<long>(row_) + 3);
    log_.write_line(pull + " calls (" + hand_call + ") (" + back_call + ")");
    log_.flush();
    if (is_call_key(hand_call)) {
        log_.write("rown+2" + str(row_ + 2) + " ");
        export_key(hand_call);
    }
    row_ += 2;
    return true;
}

void AutoRinger::half_double_row() {
    const char call = touch_.call_at(static_cast<long>(row_) + 1);
    if (!is_call_key(call)) return;
    log_.write("half rown+1" + str(row_ + 1) + " ");
    export_key(call);
}

void AutoRinger::export_key(char ch) {
    if (is_sent_bell_symbol(ch)) log_.write_line(std::string("sent=") + ch);
    send_key_(ch);
}

}  // namespace qn
