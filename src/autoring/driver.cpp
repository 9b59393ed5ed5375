#include "autoring/driver.h"

#include <string>

#include "console/console_ui.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/menus.h"
#include "keyout/sendtext.h"
#include "link/tower.h"

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

// The driver looks a row or two past the end of the touch; there, and past
// the table, there are no bells and no calls.
const std::string& row_at(const AutoringState& a, long i) {
    static const std::string empty;
    return decltype(a.rows)::in_range(i) ? a.rows[i] : empty;
}

char call_at(const AutoringState& a, long i) { return decltype(a.calls)::in_range(i) ? a.calls[i] : ' '; }

// A bell the driver rings has a mark at its number in keys. A
// character that is no bell symbol, or a bell beyond the marks (the mask of a
// non-Ringing-Room target has only N positions), is a bell it does not ring.
bool rung_by_driver(const AutoringState& a, char symbol) {
    const std::int32_t bell = bell_number(symbol);
    if (bell < 1 || static_cast<std::size_t>(bell) > a.keys.size()) return false;
    return a.keys[static_cast<std::size_t>(bell) - 1] != ' ';
}

// The ringer's bell is one the driver leaves: the one the tower link's "j"
// rings when it is left, else the first left in the row.
std::int32_t ringer_bell(const Context& c) {
    const AutoringState& a = c.autoring;
    auto left = [&a](std::int32_t b) {
        return b >= 1 && b <= a.bells && (static_cast<std::size_t>(b) > a.keys.size() || a.keys[static_cast<std::size_t>(b) - 1] == ' ');
    };
    if (tower_link_in_use(c) && left(c.cfg.tower_bell_j)) return c.cfg.tower_bell_j;
    for (std::int32_t b = 1; b <= a.bells; ++b)
        if (left(b)) return b;
    return 0;
}

// The beat just taken, when it is the ringer's bell's in its row: the pull
// loaded last is rows row - 2 (handstroke) and row - 1.
void tell_ringer_beat(Context& c) {
    const AutoringState& a = c.autoring;
    const bool hand = a.key_count <= a.bells;
    const std::int32_t place = hand ? a.key_count : a.key_count - a.bells;
    const long row = static_cast<long>(a.row) - (hand ? 2 : 1);
    const std::string& bells = row_at(a, row);
    if (place < 1 || static_cast<std::size_t>(place) > bells.size()) return;
    const std::int32_t bell = bell_number(bells[static_cast<std::size_t>(place) - 1]);
    if (bell == 0 || bell != ringer_bell(c)) return;
    RingerBeat r;
    r.row = static_cast<std::int32_t>(row);
    r.handstroke = hand;
    r.bells = a.bells;
    r.bell = bell;
    r.place = place;
    r.bell_before = place > 1 ? bell_number(bells[static_cast<std::size_t>(place) - 2]) : 0;
    r.ideal_us = (a.due_ms + 1) * 1000;  // the step rings a beat once the millisecond clock is past it
    r.beat_us = a.interval_ms * 1000;
    c.strike_report.ringer_beat(r);
}

// The first start after a set-up: the first pull is loaded here and the
// start key sent once more before the clock runs.
char first_start(Context& c) {
    AutoringState& a = c.autoring;
    if (!next_double_row(c)) {
        const std::string line = "Length of rows does not match number of bells - turning off autokeypress";
        c.screen.write_line(line);
        c.run_log.write_line(line);
        return 'A';
    }
    a.first_ring = false;
    export_key(c, 'l');
    pause_ms(c, kStartPauseMs);
    a.due_ms = elapsed_ms(c);
    return '\0';
}

// One beat of the pull: a stroke, or the handstroke gap that loads the next.
char beat(Context& c) {
    AutoringState& a = c.autoring;
    a.due_ms += a.interval_ms;
    a.key_count += 1;
    if (a.key_count <= 2 * a.bells) {
        if (a.key_count == a.bells) half_double_row(c);
        tell_ringer_beat(c);
        const auto pos = static_cast<std::size_t>(a.key_count);
        if (pos >= 1 && a.double_row_keys.size() >= pos && a.double_row_keys[pos - 1] != ' ')
            export_key(c, a.double_row_keys[pos - 1]);
        return '\0';
    }
    a.key_count = 0;
    return next_double_row(c) ? '\0' : 'A';
}

}  // namespace

char autoring_driver_step(Context& c) {
    AutoringState& a = c.autoring;
    if (!c.keyout.window_focus) return '\0';
    if (a.row >= a.row_count + 3) return 'A';
    if (!a.running) return '\0';
    if (a.first_ring && first_start(c) == 'A') return 'A';
    const std::int64_t now = elapsed_ms(c);
    if (a.due_ms == 0) a.due_ms = now;
    if (now > a.due_ms + a.interval_ms) return beat(c);
    return '\0';
}

std::int64_t next_beat_due(const Context& c) {
    const AutoringState& a = c.autoring;
    if (!a.running || a.first_ring || a.due_ms == 0 || !c.keyout.window_focus) return -1;
    // The step rings once the millisecond clock is past the beat's time.
    return (a.due_ms + a.interval_ms + 1) * 1000;
}

bool next_double_row(Context& c) {
    AutoringState& a = c.autoring;
    std::string pull = row_at(a, a.row) + row_at(a, static_cast<long>(a.row) + 1);
    if (static_cast<std::int64_t>(pull.size()) != 2 * static_cast<std::int64_t>(a.bells)) {
        a.double_row_keys.clear();
        return false;
    }
    for (char& ch : pull)
        if (!rung_by_driver(a, ch)) ch = ' ';
    a.double_row_keys = pull;
    const char hand_call = call_at(a, static_cast<long>(a.row) + 2);
    const char back_call = call_at(a, static_cast<long>(a.row) + 3);
    c.run_log.write_line(pull + " calls (" + hand_call + ") (" + back_call + ")");
    c.run_log.flush();
    if (is_call_key(hand_call)) {
        c.run_log.write("rown+2" + str(a.row + 2) + " ");
        export_key(c, hand_call);
    }
    a.row += 2;
    return true;
}

void half_double_row(Context& c) {
    AutoringState& a = c.autoring;
    const char call = call_at(a, static_cast<long>(a.row) + 1);
    if (!is_call_key(call)) return;
    c.run_log.write("half rown+1" + str(a.row + 1) + " ");
    export_key(c, call);
}

void export_key(Context& c, char ch) {
    if (is_sent_bell_symbol(ch)) c.run_log.write_line(std::string("sent=") + ch);
    if (export_over_link(c, ch)) return;
    // Ringing Room takes the eleventh and twelfth bells on "-" and "=".
    const std::int32_t target = c.keyout.target_index;
    if (target >= 1 && target <= 3) {
        if (ch == 'E') ch = '-';
        else if (ch == 'T') ch = '=';
    }
    type_text(c, std::string(1, ch));
}

}  // namespace qn
