#include "striking/band_striking.h"

#include <algorithm>
#include <bitset>
#include <cmath>
#include <map>

#include "striking/band.h"
#include "striking/figures.h"

namespace qn {

namespace {

using band_rows::Event;

constexpr std::int32_t kMaxBell = 63;
constexpr std::int64_t kMarginUs = 10000000;  // rings this far beyond the band's blows still count

// Each bell's blows numbered as its own strike path numbers them, all of
// them in the order they sounded; a line per bell with its counts.
std::vector<BlowFigures> band_blows(std::span<const BlowTimed> blows, TouchStriking& t) {
    std::map<std::int32_t, std::vector<BlowTimed>> by_bell;
    for (const BlowTimed& b : blows)
        if (b.bell > 0 && b.bell <= kMaxBell) by_bell[b.bell].push_back(b);
    std::vector<BlowFigures> list;
    for (const auto& [bell, own] : by_bell) {
        TouchStriking counts;
        for (BlowFigures& f : numbered_blows(own, counts)) {
            f.bell = bell;
            list.push_back(f);
        }
        BellStriking s;
        s.bell = bell;
        s.blows = counts.blows;
        s.spurious = counts.spurious;
        s.missed = counts.missed;
        t.band_bells.push_back(s);
        t.blows += counts.blows;
        t.spurious += counts.spurious;
        t.missed += counts.missed;
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const BlowFigures& a, const BlowFigures& b) { return a.due_us < b.due_us; });
    return list;
}

struct BandTiming {
    std::int32_t bells = 0;  // the band's and the others heard
    std::int32_t heard_bells = 0;
    std::int32_t rows = 0;
    std::vector<double> pull_beat_us;  // each pull's beat that had a line, in order
};

std::vector<Event> band_events(std::vector<BlowFigures>& list, std::span<const BellHeard> heard,
                               BandTiming& timing) {
    std::vector<Event> ev;
    std::bitset<64> band, others;
    std::int64_t first = 0, last = 0;
    for (BlowFigures& f : list) {
        f.timed = false;
        if (f.spacing == Spacing::Spurious) continue;
        if (ev.empty()) first = f.due_us;
        last = f.due_us;
        ev.push_back({f.due_us, f.bell, f.keyed_handstroke, &f, f.spacing == Spacing::Missed ? 2 : 1});
        band.set(static_cast<std::size_t>(f.bell));
    }
    for (const BellHeard& h : heard) {
        if (h.bell < 1 || h.bell > kMaxBell || band.test(static_cast<std::size_t>(h.bell))) continue;
        if (h.at_us < first - kMarginUs || h.at_us > last + kMarginUs) continue;
        ev.push_back({h.at_us, h.bell, h.handstroke, nullptr});
        others.set(static_cast<std::size_t>(h.bell));
    }
    timing.bells = static_cast<std::int32_t>(band.count() + others.count());
    timing.heard_bells = static_cast<std::int32_t>(others.count());
    std::stable_sort(ev.begin(), ev.end(), [](const Event& a, const Event& b) { return a.at_us < b.at_us; });
    return ev;
}

// A row that lacks a bell has its blows put in the places nearest the
// line's, in order: the blows after the gap keep their own places.
void place_by_line(std::span<Event> row, std::int64_t first_beat, std::int32_t bells, double at_us,
                   double beat_us) {
    const std::size_t m = row.size(), n = static_cast<std::size_t>(bells);
    constexpr double kNone = 1e300;
    // best[i][k]: the least cost of the first i + 1 blows with blow i in slot k.
    std::vector<std::vector<double>> best(m, std::vector<double>(n, kNone));
    std::vector<std::vector<std::size_t>> from(m, std::vector<std::size_t>(n, 0));
    for (std::size_t i = 0; i < m; ++i) {
        for (std::size_t k = i; k + (m - i) <= n; ++k) {
            const double d =
                static_cast<double>(row[i].at_us) -
                (at_us + beat_us * static_cast<double>(first_beat + static_cast<std::int64_t>(k)));
            double before = 0;
            if (i > 0) {
                before = kNone;
                for (std::size_t k0 = i - 1; k0 < k; ++k0)
                    if (best[i - 1][k0] < before) {
                        before = best[i - 1][k0];
                        from[i][k] = k0;
                    }
            }
            best[i][k] = before + d * d;
        }
    }
    std::size_t k = static_cast<std::size_t>(std::min_element(best[m - 1].begin(), best[m - 1].end()) -
                                             best[m - 1].begin());
    for (std::size_t i = m; i-- > 0;) {
        row[i].place = static_cast<std::int32_t>(k) + 1;
        row[i].beat = first_beat + static_cast<std::int64_t>(k);
        k = from[i][k];
    }
}

void time_blow(Event& e, const Event* before, bool handstroke, double ideal_us) {
    BlowFigures& f = *e.blow;
    f.timed = true;
    f.handstroke = handstroke;
    f.ideal_us = static_cast<std::int64_t>(std::llround(ideal_us));
    f.error_ms = (static_cast<double>(f.due_us) - ideal_us) / 1000.0;
    f.row = e.row + 1;
    f.place = e.place;
    f.bell_before = before && e.place > 1 ? before->bell : 0;
}

// The band's rows as runs of the events (rows only grow along them), and
// the whole pull each row is in.
struct RowIndex {
    std::vector<std::int32_t> pull;
    std::vector<std::int64_t> first_beat;
    std::vector<std::size_t> start;  // each row's first event; start[rows] is the end
    std::size_t bells = 0;

    std::size_t rows() const { return pull.size(); }
    bool whole(std::size_t r) const { return start[r + 1] - start[r] == bells; }
    std::span<Event> row(std::vector<Event>& ev, std::size_t r) const {
        return {ev.data() + start[r], start[r + 1] - start[r]};
    }
};

RowIndex index_rows(const std::vector<Event>& ev, const std::vector<bool>& hand, std::int32_t bells) {
    RowIndex ix;
    ix.bells = static_cast<std::size_t>(bells);
    ix.pull.resize(hand.size());
    ix.first_beat.resize(hand.size());
    for (std::size_t r = 0, hands = 0; r < hand.size(); ++r) {
        hands += hand[r] ? 1 : 0;
        ix.pull[r] = static_cast<std::int32_t>(hands);
        ix.first_beat[r] = static_cast<std::int64_t>(r) * bells + static_cast<std::int64_t>(hands);
    }
    ix.start.assign(hand.size() + 1, ev.size());
    for (std::size_t i = ev.size(); i-- > 0;) ix.start[static_cast<std::size_t>(ev[i].row)] = i;
    for (std::size_t r = hand.size(); r-- > 0;) ix.start[r] = std::min(ix.start[r], ix.start[r + 1]);
    return ix;
}

// The line of the pull that row r0 is in: a blow of beat b belongs at
// at_us + beat_us b. Drawn through the whole rows of the pulls around,
// weighted by their nearness; the bells heard draw it too when in_rhythm.
bool pull_line(const std::vector<Event>& ev, const RowIndex& ix, std::size_t r0, bool in_rhythm, int least,
               double& at_us, double& beat_us) {
    const Event& ref = ev[ix.start[r0]];
    const std::int32_t pull = ix.pull[r0];
    const auto lo =
        std::lower_bound(ix.pull.begin(), ix.pull.end(), pull - kBandHalfWindowPulls) - ix.pull.begin();
    const auto hi =
        std::upper_bound(ix.pull.begin(), ix.pull.end(), pull + kBandHalfWindowPulls) - ix.pull.begin();
    band_rows::WeightedLine line;
    for (auto r = static_cast<std::size_t>(lo); r < static_cast<std::size_t>(hi); ++r) {
        if (!ix.whole(r)) continue;
        const double w = 1.0 - std::abs(ix.pull[r] - pull) / (kBandHalfWindowPulls + 1.0);
        for (std::size_t j = ix.start[r]; j < ix.start[r + 1]; ++j)
            if (ev[j].blow || in_rhythm)
                line.add(static_cast<double>(ev[j].beat - ref.beat),
                         static_cast<double>(ev[j].at_us - ref.at_us), w);
    }
    double at = 0;
    if (line.points() < least || !line.fit(at, beat_us) || beat_us <= 0) return false;
    at_us = static_cast<double>(ref.at_us) + at - beat_us * static_cast<double>(ref.beat);
    return true;
}

// Times every blow of the band in the list; those of pulls with too few
// whole rows around them are left untimed. The bells heard take their
// places in the rows; their rings draw the line too when in_rhythm.
BandTiming time_band(std::vector<BlowFigures>& list, std::span<const BellHeard> heard, bool in_rhythm) {
    BandTiming timing;
    std::vector<Event> ev = band_events(list, heard, timing);
    const std::int32_t bells = timing.bells;
    if (bells < kMinRhythmBells) return timing;
    timing.rows = band_rows::cut_rows(ev, bells);
    const std::vector<bool> hand = band_rows::handstroke_rows(ev, timing.rows);
    band_rows::number_beats(ev, hand, bells);
    const RowIndex ix = index_rows(ev, hand, bells);
    const int least = in_rhythm ? bells : bells - timing.heard_bells;  // a row's worth
    for (std::size_t r0 = 0, r1 = 0; r0 < ix.rows(); r0 = r1) {
        while (r1 < ix.rows() && ix.pull[r1] == ix.pull[r0]) ++r1;  // the pull's rows: r0 to r1 - 1
        double at_us = 0, beat_us = 0;
        if (!pull_line(ev, ix, r0, in_rhythm, least, at_us, beat_us)) continue;
        timing.pull_beat_us.push_back(beat_us);
        for (std::size_t r = r0; r < r1; ++r) {
            const std::span<Event> row = ix.row(ev, r);
            if (!ix.whole(r)) place_by_line(row, ix.first_beat[r], bells, at_us, beat_us);
            for (std::size_t i = 0; i < row.size(); ++i)
                if (row[i].blow)
                    time_blow(row[i], i > 0 ? &row[i - 1] : nullptr, hand[r],
                              at_us + beat_us * static_cast<double>(row[i].beat));
        }
    }
    return timing;
}

// Only the bells' lateness against each other can be known: the band's
// rhythm is put where the middle bell's mean lateness is nothing, so that
// one bell late among steady ones is told as late by all of it.
void centre_on_middle_bell(std::vector<BlowFigures>& list) {
    std::map<std::int32_t, std::pair<double, int>> sums;
    for (const BlowFigures& f : list)
        if (f.timed) {
            sums[f.bell].first += f.error_ms;
            sums[f.bell].second += 1;
        }
    if (sums.empty()) return;
    std::vector<double> means;
    for (const auto& [bell, s] : sums) means.push_back(s.first / s.second);
    std::sort(means.begin(), means.end());
    const std::size_t mid = means.size() / 2;
    const double shift = means.size() % 2 ? means[mid] : (means[mid - 1] + means[mid]) / 2;
    for (BlowFigures& f : list) {
        if (!f.timed) continue;
        f.error_ms -= shift;
        f.ideal_us += static_cast<std::int64_t>(std::llround(shift * 1000.0));
    }
}

std::vector<BlowFigures> of_bell(const std::vector<BlowFigures>& list, std::int32_t bell) {
    std::vector<BlowFigures> out;
    for (const BlowFigures& f : list)
        if (f.bell == bell) out.push_back(f);
    return out;
}

// K's change for each bell, from the band's own rhythm.
void suggest_delays(TouchStriking& t, const std::vector<BlowFigures>& own) {
    for (BellStriking& s : t.band_bells) {
        const std::vector<BlowFigures> mine = of_bell(own, s.bell);
        s.delay = delay_suggestion(mine);
        std::int32_t turned = 0;
        for (const BlowFigures& f : mine)
            if (f.timed) turned += f.handstroke != f.keyed_handstroke ? 1 : -1;
        s.strokes_turned = turned > 0;
    }
}

// The band's speed: a peal is 2520 whole pulls of 2N + 1 blows.
void band_speed(TouchStriking& t, const BandTiming& timing) {
    const std::vector<double>& beats = timing.pull_beat_us;
    t.bells = timing.bells;
    t.rows = timing.rows;
    if (beats.empty()) return;
    const double pull_beats = 2.0 * t.bells + 1;
    double sum = 0;
    for (double b : beats) sum += b;
    t.blow_ms = sum / static_cast<double>(beats.size()) / 1000.0;
    t.whole_pull_ms = t.blow_ms * pull_beats;
    t.peal_minutes = t.whole_pull_ms * 2520.0 / 60000.0;
    const std::size_t quarter = std::max<std::size_t>(1, beats.size() / 4);
    for (std::size_t i = 0; i < quarter; ++i) {
        t.pull_first_ms += beats[i] * pull_beats / 1000.0 / static_cast<double>(quarter);
        t.pull_last_ms += beats[beats.size() - 1 - i] * pull_beats / 1000.0 / static_cast<double>(quarter);
    }
}

// The band's handstroke gap: wider than a blow by how much later its
// handstrokes came than its backstrokes.
void handstroke_gap(TouchStriking& t) {
    if (t.blow_ms <= 0) return;
    const double late_hand = t.hand.mean_ms - t.back.mean_ms;  // the gap's opening beyond a blow
    t.hand_to_back_ms = t.bells * t.blow_ms - late_hand;
    t.back_to_hand_ms = (t.bells + 1) * t.blow_ms + late_hand;
}

void bell_figures(TouchStriking& t) {
    const std::vector<GroupFigures> by_bell = grouped_figures(t.blow_list, &BlowFigures::bell);
    for (BellStriking& s : t.band_bells) {
        for (const GroupFigures& g : by_bell)
            if (g.key == s.bell) {
                s.all = g.all;
                s.hand = g.hand;
                s.back = g.back;
            }
        s.timed = s.all.blows;
        s.by_place = grouped_figures(of_bell(t.blow_list, s.bell), &BlowFigures::place);
    }
}

}  // namespace

bool is_band_touch(std::span<const BlowTimed> blows) {
    return std::any_of(blows.begin(), blows.end(), [](const BlowTimed& b) { return b.bell > 0; });
}

TouchStriking analyse_band_touch(const StrikingInput& in) {
    TouchStriking t;
    t.touch = in.touch;
    t.why = in.why;
    t.reference = StrikingReference::BandOwnRhythm;
    t.blow_list = band_blows(in.blows, t);
    std::vector<BlowFigures> own = t.blow_list;
    BandTiming timing = time_band(own, in.heard, false);
    centre_on_middle_bell(own);
    suggest_delays(t, own);
    if (timing.heard_bells > 0) {
        t.reference = StrikingReference::Tower;
        timing = time_band(t.blow_list, in.heard, true);
    } else {
        t.blow_list = std::move(own);
    }
    band_speed(t, timing);
    touch_blow_figures(t);
    handstroke_gap(t);
    for (const BlowFigures& f : t.blow_list)
        if (f.spacing != Spacing::Spurious && !f.timed) ++t.untimed;
    t.by_place = grouped_figures(t.blow_list, &BlowFigures::place);
    bell_figures(t);
    return t;
}

}  // namespace qn
