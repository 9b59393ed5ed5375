#include "striking/band.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdlib>

namespace qn {

namespace band_rows {

// Each bell once a row: a row ends when it holds every bell, or when a bell
// comes again before it does (someone's blow was lost), or when a band's
// bell rings a row on from its last (the row lacks it: its blow was missed).
// Returns the rows.
std::int32_t cut_rows(std::vector<Event>& ev, std::int32_t bells) {
    std::int32_t row = 0, place = 0;
    std::bitset<64> in_row;
    std::array<std::int32_t, 64> last_row;
    last_row.fill(-1);
    for (Event& e : ev) {
        const auto bell = static_cast<std::size_t>(e.bell);
        const bool row_on = e.rows_on > 0 && last_row[bell] >= 0 && last_row[bell] + e.rows_on > row;
        if (in_row.test(bell) || place == bells || (row_on && place > 0)) {
            ++row;
            place = 0;
            in_row.reset();
        }
        e.row = row;
        e.place = ++place;
        in_row.set(bell);
        last_row[bell] = row;
    }
    return row + 1;
}

// A row is a handstroke when most of the other bells in it rang at
// handstroke, as the tower had them; a row with no say takes the stroke
// after the row before.
std::vector<bool> handstroke_rows(const std::vector<Event>& ev, std::int32_t rows) {
    std::vector<int> votes(static_cast<std::size_t>(rows), 0);
    for (const Event& e : ev)
        if (e.bell != 0) votes[static_cast<std::size_t>(e.row)] += e.handstroke ? 1 : -1;
    std::vector<bool> hand(static_cast<std::size_t>(rows), true);
    for (std::size_t r = 0; r < hand.size(); ++r)
        hand[r] = votes[r] != 0 ? votes[r] > 0 : (r == 0 ? true : !hand[r - 1]);
    return hand;
}

// The band's beats: a handstroke gap of one blow before each handstroke row.
void number_beats(std::vector<Event>& ev, const std::vector<bool>& hand, std::int32_t bells) {
    std::vector<std::int64_t> gaps(hand.size(), 0);
    std::int64_t n = 0;
    for (std::size_t r = 0; r < hand.size(); ++r) gaps[r] = n += hand[r] ? 1 : 0;
    for (Event& e : ev) e.beat = std::int64_t{e.row} * bells + gaps[static_cast<std::size_t>(e.row)] + e.place - 1;
}

}  // namespace band_rows

namespace {

using band_rows::Event;

constexpr std::int32_t kHalfWindowRows = 3;
constexpr std::int64_t kMarginUs = 10000000;  // rings this far beyond the touch's blows still count

std::vector<Event> merged(std::vector<BlowFigures>& list, std::span<const BellHeard> heard, std::int32_t& bells) {
    std::vector<Event> ev;
    ev.reserve(list.size() + heard.size());
    std::int64_t first = 0, last = 0;
    for (BlowFigures& f : list) {
        if (f.spacing == Spacing::Spurious) continue;
        if (ev.empty()) first = f.due_us;
        last = f.due_us;
        ev.push_back({f.due_us, 0, f.keyed_handstroke, &f});
    }
    std::bitset<64> others;
    for (const BellHeard& h : heard) {
        if (h.at_us < first - kMarginUs || h.at_us > last + kMarginUs || h.bell < 1 || h.bell >= 64) continue;
        ev.push_back({h.at_us, h.bell, h.handstroke, nullptr});
        others.set(static_cast<std::size_t>(h.bell));
    }
    bells = static_cast<std::int32_t>(others.count()) + 1;
    std::stable_sort(ev.begin(), ev.end(), [](const Event& a, const Event& b) { return a.at_us < b.at_us; });
    return ev;
}

// A line through the other bells' blows of the rows around, weighted by
// their nearness; false when they are too few to draw one. Rows only grow
// along the events, so those rows are the events either side of this one.
bool band_line(const std::vector<Event>& ev, std::size_t i, std::int32_t bells, double& at_us, double& beat_us) {
    const Event& me = ev[i];
    std::size_t lo = i, hi = i;
    while (lo > 0 && ev[lo - 1].row >= me.row - kHalfWindowRows) --lo;
    while (hi + 1 < ev.size() && ev[hi + 1].row <= me.row + kHalfWindowRows) ++hi;
    band_rows::WeightedLine line;
    for (std::size_t j = lo; j <= hi; ++j) {
        const Event& e = ev[j];
        const std::int32_t d = std::abs(e.row - me.row);
        if (e.bell == 0) continue;
        const double w = 1.0 - static_cast<double>(d) / (kHalfWindowRows + 1);
        line.add(static_cast<double>(e.beat - me.beat), static_cast<double>(e.at_us - me.at_us), w);
    }
    double at = 0;
    if (line.points() < bells || !line.fit(at, beat_us)) return false;
    at_us = static_cast<double>(me.at_us) + at;
    return beat_us > 0;
}

}  // namespace

BandFit time_against_band(std::vector<BlowFigures>& list, std::span<const BellHeard> heard) {
    BandFit fit;
    std::vector<Event> ev = merged(list, heard, fit.bells);
    if (fit.bells - 1 < kMinBandBells) return {};
    const std::int32_t rows = band_rows::cut_rows(ev, fit.bells);
    const std::vector<bool> hand = band_rows::handstroke_rows(ev, rows);
    band_rows::number_beats(ev, hand, fit.bells);
    for (BlowFigures& f : list) f.timed = false;
    double beats = 0;
    for (std::size_t i = 0; i < ev.size(); ++i) {
        Event& e = ev[i];
        double ideal = 0, beat = 0;
        if (e.bell != 0 || !band_line(ev, i, fit.bells, ideal, beat)) continue;
        BlowFigures& f = *e.blow;
        f.timed = true;
        f.handstroke = hand[static_cast<std::size_t>(e.row)];
        f.ideal_us = static_cast<std::int64_t>(ideal);
        f.error_ms = (static_cast<double>(f.due_us) - ideal) / 1000.0;
        f.row = e.row;
        f.place = e.place;
        f.bell_before = e.place > 1 ? ev[i - 1].bell : 0;
        beats += beat;
        ++fit.placed;
    }
    if (fit.placed > 0) fit.blow_ms = beats / fit.placed / 1000.0;
    return fit;
}

}  // namespace qn
