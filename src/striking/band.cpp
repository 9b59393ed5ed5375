#include "striking/band.h"

#include <algorithm>
#include <bitset>
#include <cstdlib>

namespace qn {

namespace {

constexpr std::int32_t kHalfWindowRows = 3;
constexpr std::int64_t kMarginUs = 10000000;  // rings this far beyond the touch's blows still count

struct Event {
    std::int64_t at_us = 0;
    std::int32_t bell = 0;  // 0: the ringer's
    bool handstroke = false;
    BlowFigures* blow = nullptr;
    std::int32_t row = 0, place = 0;
    std::int64_t beat = 0;
};

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

// Each bell once a row: a row ends when it holds every bell, or when a bell
// comes again before it does (someone's blow was lost). Returns the rows.
std::int32_t cut_rows(std::vector<Event>& ev, std::int32_t bells) {
    std::int32_t row = 0, place = 0;
    std::bitset<64> in_row;
    for (Event& e : ev) {
        if (in_row.test(static_cast<std::size_t>(e.bell)) || place == bells) {
            ++row;
            place = 0;
            in_row.reset();
        }
        e.row = row;
        e.place = ++place;
        in_row.set(static_cast<std::size_t>(e.bell));
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

// A line through the other bells' blows of the rows around, weighted by
// their nearness; false when they are too few to draw one. Rows only grow
// along the events, so those rows are the events either side of this one.
bool band_line(const std::vector<Event>& ev, std::size_t i, std::int32_t bells, double& at_us, double& beat_us) {
    const Event& me = ev[i];
    std::size_t lo = i, hi = i;
    while (lo > 0 && ev[lo - 1].row >= me.row - kHalfWindowRows) --lo;
    while (hi + 1 < ev.size() && ev[hi + 1].row <= me.row + kHalfWindowRows) ++hi;
    double sw = 0, sx = 0, sy = 0, sxx = 0, sxy = 0;
    int n = 0;
    for (std::size_t j = lo; j <= hi; ++j) {
        const Event& e = ev[j];
        const std::int32_t d = std::abs(e.row - me.row);
        if (e.bell == 0) continue;
        const double w = 1.0 - static_cast<double>(d) / (kHalfWindowRows + 1);
        const double x = static_cast<double>(e.beat - me.beat), y = static_cast<double>(e.at_us - me.at_us);
        sw += w;
        sx += w * x;
        sy += w * y;
        sxx += w * x * x;
        sxy += w * x * y;
        ++n;
    }
    const double det = sw * sxx - sx * sx;
    if (n < bells || det <= 0) return false;
    beat_us = (sw * sxy - sx * sy) / det;
    at_us = static_cast<double>(me.at_us) + (sy - beat_us * sx) / sw;
    return beat_us > 0;
}

}  // namespace

BandFit time_against_band(std::vector<BlowFigures>& list, std::span<const BellHeard> heard) {
    BandFit fit;
    std::vector<Event> ev = merged(list, heard, fit.bells);
    if (fit.bells - 1 < kMinBandBells) return {};
    const std::int32_t rows = cut_rows(ev, fit.bells);
    const std::vector<bool> hand = handstroke_rows(ev, rows);
    number_beats(ev, hand, fit.bells);
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
