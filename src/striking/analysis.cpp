#include "striking/analysis.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "config/bounds.h"
#include "striking/band.h"
#include "striking/band_striking.h"
#include "striking/figures.h"
#include "striking/rhythm.h"

namespace qn {

namespace {

// Mean and sample standard deviation, one value at a time (Welford).
class Running {
public:
    void add(double v) {
        ++n_;
        const double d = v - mean_;
        mean_ += d / n_;
        m2_ += d * (v - mean_);
    }
    StrokeFigures figures() const { return {n_, mean_, n_ > 1 ? std::sqrt(m2_ / (n_ - 1)) : 0.0}; }

private:
    std::int32_t n_ = 0;
    double mean_ = 0, m2_ = 0;
};

// Blows numbered as the row counter numbers them: a missed blow counts, a
// spurious strike does not (it keeps the number of the blow before it and
// is not timed).
std::vector<BlowFigures> number_blows(std::span<const BlowTimed> blows, TouchStriking& t) {
    std::vector<BlowFigures> list;
    list.reserve(blows.size());
    std::int32_t blow = 0;
    for (const BlowTimed& b : blows) {
        BlowFigures f;
        f.handstroke = f.keyed_handstroke = b.handstroke;
        f.spacing = b.spacing;
        f.event_us = b.event_us;
        f.due_us = b.due_us;
        f.delay_ms = b.delay_ms;
        if (b.spacing == Spacing::Spurious) {
            ++t.spurious;
        } else {
            if (b.spacing == Spacing::Missed) {
                ++t.missed;
                ++blow;
            }
            ++blow;
            f.timed = true;
        }
        f.blow = blow;
        list.push_back(f);
    }
    t.blows = blow;
    return list;
}

// Each blow goes with the nearest beat of the ringer's bell within half a
// row of it; a beat takes one blow. Returns how many were placed.
std::int32_t time_against_beats(std::vector<BlowFigures>& list, std::span<const RingerBeat> beats) {
    std::int64_t widest = 0;
    for (const RingerBeat& b : beats) widest = std::max(widest, b.beat_us * b.bells / 2);
    std::vector<bool> taken(beats.size(), false);
    std::int32_t placed = 0;
    for (BlowFigures& f : list) {
        if (!f.timed) continue;
        f.timed = false;
        auto first = std::lower_bound(beats.begin(), beats.end(), f.due_us - widest,
                                      [](const RingerBeat& b, std::int64_t t) { return b.ideal_us < t; });
        std::size_t best = beats.size();
        std::int64_t best_gap = 0;
        for (auto it = first; it != beats.end() && it->ideal_us <= f.due_us + widest; ++it) {
            const std::size_t j = static_cast<std::size_t>(it - beats.begin());
            const std::int64_t gap = std::llabs(f.due_us - it->ideal_us);
            if (taken[j] || gap > it->beat_us * it->bells / 2) continue;
            if (best == beats.size() || gap < best_gap) {
                best = j;
                best_gap = gap;
            }
        }
        if (best == beats.size()) continue;
        const RingerBeat& b = beats[best];
        taken[best] = true;
        f.timed = true;
        f.handstroke = b.handstroke;
        f.ideal_us = b.ideal_us;
        f.error_ms = static_cast<double>(f.due_us - b.ideal_us) / 1000.0;
        f.row = b.row;
        f.place = b.place;
        f.bell_before = b.bell_before;
        ++placed;
    }
    return placed;
}

// The blow's number from the first handstroke, so that handstrokes are even.
void time_against_rhythm(std::vector<BlowFigures>& list) {
    std::vector<RhythmBlow> blows;
    std::vector<BlowFigures*> of;
    std::int32_t origin = -1;
    for (BlowFigures& f : list) {
        if (f.spacing == Spacing::Spurious) continue;
        if (origin < 0) origin = f.blow - (f.handstroke ? 0 : 1);
        blows.push_back({f.blow - origin, f.due_us});
        of.push_back(&f);
    }
    const std::vector<RhythmFit> fits = fit_rhythm(blows);
    for (std::size_t i = 0; i < fits.size(); ++i) {
        BlowFigures& f = *of[i];
        f.timed = fits[i].fitted;
        f.ideal_us = static_cast<std::int64_t>(std::llround(fits[i].ideal_us));
        f.error_ms = fits[i].error_us / 1000.0;
    }
}

// Whole pulls of three blows in a row: handstroke, backstroke, handstroke.
// Against a beat (beat_ms > 0) a pull is the rounds pull of the beat moved
// by the blows' errors: a change of place would otherwise swing it by beats.
std::vector<PullFigures> whole_pulls(const std::vector<BlowFigures>& list, double beat_ms = 0, int bells = 0) {
    std::vector<const BlowFigures*> rung;
    for (const BlowFigures& f : list)
        if (f.spacing != Spacing::Spurious) rung.push_back(&f);
    std::vector<PullFigures> pulls;
    for (std::size_t i = 0; i + 2 < rung.size(); ++i) {
        const BlowFigures &h = *rung[i], &b = *rung[i + 1], &h2 = *rung[i + 2];
        if (!h.handstroke || b.handstroke || !h2.handstroke || b.blow != h.blow + 1 || h2.blow != h.blow + 2) continue;
        PullFigures p;
        p.blow = h.blow;
        if (beat_ms > 0) {
            if (!h.timed || !b.timed || !h2.timed) continue;
            p.hand_to_back_ms = bells * beat_ms + b.error_ms - h.error_ms;
            p.back_to_hand_ms = (bells + 1) * beat_ms + h2.error_ms - b.error_ms;
        } else {
            p.hand_to_back_ms = static_cast<double>(b.due_us - h.due_us) / 1000.0;
            p.back_to_hand_ms = static_cast<double>(h2.due_us - b.due_us) / 1000.0;
        }
        p.whole_pull_ms = p.hand_to_back_ms + p.back_to_hand_ms;
        pulls.push_back(p);
    }
    return pulls;
}

void rhythm_figures(TouchStriking& t) {
    const std::vector<PullFigures>& p = t.pulls;
    if (p.empty()) return;
    const double n = static_cast<double>(p.size());
    for (const PullFigures& x : p) {
        t.whole_pull_ms += x.whole_pull_ms / n;
        t.hand_to_back_ms += x.hand_to_back_ms / n;
        t.back_to_hand_ms += x.back_to_hand_ms / n;
    }
    const std::size_t quarter = std::max<std::size_t>(1, p.size() / 4);
    for (std::size_t i = 0; i < quarter; ++i) {
        t.pull_first_ms += p[i].whole_pull_ms / static_cast<double>(quarter);
        t.pull_last_ms += p[p.size() - 1 - i].whole_pull_ms / static_cast<double>(quarter);
    }
}

// Without a beat, an evenly struck bell's handstroke gap is one blow: the
// blow is taken as the difference of its two intervals, kept between the
// blows of 16 bells and of 4.
double own_blow_ms(const TouchStriking& t) {
    const double gap = t.back_to_hand_ms - t.hand_to_back_ms;
    return std::clamp(gap, t.whole_pull_ms / 33.0, t.whole_pull_ms / 9.0);
}

int histogram_bin(double pct) {
    if (pct < -50.0) return 0;
    if (pct >= 50.0) return kHistogramBins - 1;
    return 1 + std::min(kHistogramBins - 3, static_cast<int>(std::floor((pct + 50.0) / 5.0)));
}

void blow_figures(TouchStriking& t) {
    Running all, hand, back;
    std::vector<std::int32_t> order;
    for (std::size_t i = 0; i < t.blow_list.size(); ++i) {
        BlowFigures& f = t.blow_list[i];
        if (!f.timed) continue;
        f.error_pct = t.blow_ms > 0 ? f.error_ms / t.blow_ms * 100.0 : 0.0;
        all.add(f.error_ms);
        (f.handstroke ? hand : back).add(f.error_ms);
        t.histogram[static_cast<std::size_t>(histogram_bin(f.error_pct))] += 1;
        order.push_back(static_cast<std::int32_t>(i));
    }
    t.all = all.figures();
    t.hand = hand.figures();
    t.back = back.figures();
    t.timed = t.all.blows;
    const std::size_t n = std::min<std::size_t>(t.worst.size(), order.size());
    std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(n), order.end(),
                      [&t](std::int32_t a, std::int32_t b) {
                          return std::fabs(t.blow_list[static_cast<std::size_t>(a)].error_ms) >
                                 std::fabs(t.blow_list[static_cast<std::size_t>(b)].error_ms);
                      });
    std::copy_n(order.begin(), n, t.worst.begin());
    t.worst_count = static_cast<std::int32_t>(n);
}

// Tables by place and by the bell followed, in order of the key.
std::vector<GroupFigures> grouped(const std::vector<BlowFigures>& list, std::int32_t BlowFigures::*key) {
    std::map<std::int32_t, std::array<Running, 3>> groups;
    for (const BlowFigures& f : list) {
        if (!f.timed) continue;
        auto& g = groups[f.*key];
        g[0].add(f.error_ms);
        g[f.handstroke ? 1 : 2].add(f.error_ms);
    }
    std::vector<GroupFigures> out;
    for (const auto& [k, g] : groups) out.push_back({k, g[0].figures(), g[1].figures(), g[2].figures()});
    return out;
}

// A key's delay is that of the stroke the program took the blow for, which
// need not be the stroke it was: the change is worked out by that stroke.
// The delay in force is the last timed blow's.
void suggest_delay(TouchStriking& t) {
    DelaySuggestion& d = t.delay;
    Running hand, back;
    for (const BlowFigures& f : t.blow_list) {
        if (!f.timed) continue;
        (f.keyed_handstroke ? hand : back).add(f.error_ms);
        (f.keyed_handstroke ? d.hand_delay_ms : d.back_delay_ms) = f.delay_ms;
    }
    const StrokeFigures h = hand.figures(), b = back.figures();
    if (h.blows < kMinSuggestionBlows || b.blows < kMinSuggestionBlows) return;
    d.offered = true;
    d.hand_change_ms = static_cast<std::int32_t>(-std::lround(h.mean_ms));
    d.back_change_ms = static_cast<std::int32_t>(-std::lround(b.mean_ms));
}

// Without a beat the rhythm tells the strokes: the handstroke gap makes
// the interval before a handstroke the longer of the two.
void strokes_from_rhythm(TouchStriking& t) {
    t.pulls = whole_pulls(t.blow_list);
    double hand_to_back = 0, back_to_hand = 0;
    for (const PullFigures& p : t.pulls) {
        hand_to_back += p.hand_to_back_ms;
        back_to_hand += p.back_to_hand_ms;
    }
    if (back_to_hand >= hand_to_back) return;
    for (BlowFigures& f : t.blow_list) f.handstroke = !f.handstroke;
}

void count_turned_strokes(TouchStriking& t) {
    std::int32_t turned = 0;
    for (const BlowFigures& f : t.blow_list)
        if (f.timed) turned += f.handstroke != f.keyed_handstroke ? 1 : -1;
    t.strokes_turned = turned > 0;
}

// A peal is 2520 whole pulls of 2N + 1 beats.
void band_speed(TouchStriking& t, std::int32_t bells, double blow_ms) {
    t.bells = bells;
    t.blow_ms = blow_ms;
    t.peal_minutes = blow_ms * (2 * bells + 1) * 2520.0 / 60000.0;
}

// The other bells set the beat: the beat of automatic ringing, else the
// band over a tower link, when either places at least half the blows.
bool time_against_others(TouchStriking& t, const StrikingInput& in) {
    const std::int32_t rung = t.blows - t.missed;
    if (in.beats.empty() && in.heard.empty()) return false;
    std::vector<BlowFigures> placed = t.blow_list;
    if (!in.beats.empty() && time_against_beats(placed, in.beats) * 2 >= rung) {
        t.reference = StrikingReference::AutomaticBells;
        band_speed(t, in.beats.back().bells, static_cast<double>(in.beats.back().beat_us) / 1000.0);
    } else if (!in.heard.empty()) {
        if (!in.beats.empty()) placed = t.blow_list;
        const BandFit band = time_against_band(placed, in.heard);
        if (band.placed * 2 < rung || band.placed == 0) return false;
        t.reference = StrikingReference::Band;
        band_speed(t, band.bells, band.blow_ms);
    } else {
        return false;
    }
    t.blow_list = std::move(placed);
    return true;
}

}  // namespace

std::int32_t suggested_hand_delay(const DelaySuggestion& d) { return stepped_key_delay(d.hand_delay_ms, d.hand_change_ms); }
std::int32_t suggested_back_delay(const DelaySuggestion& d) { return stepped_key_delay(d.back_delay_ms, d.back_change_ms); }

TouchStriking analyse_touch(const StrikingInput& in) {
    if (is_band_touch(in.blows)) return analyse_band_touch(in);
    TouchStriking t;
    t.touch = in.touch;
    t.why = in.why;
    t.blow_list = number_blows(in.blows, t);
    if (!time_against_others(t, in)) {
        strokes_from_rhythm(t);
        time_against_rhythm(t.blow_list);
    }
    const bool against_others = t.reference != StrikingReference::OwnRhythm;
    t.pulls = whole_pulls(t.blow_list, against_others ? t.blow_ms : 0, t.bells);
    rhythm_figures(t);
    if (t.reference == StrikingReference::OwnRhythm) t.blow_ms = own_blow_ms(t);
    for (const BlowFigures& f : t.blow_list)
        if (f.spacing != Spacing::Spurious && !f.timed) ++t.untimed;
    count_turned_strokes(t);
    blow_figures(t);
    // The band's bells come late by the network's delay: no delay is
    // suggested from them.
    if (t.reference == StrikingReference::AutomaticBells) suggest_delay(t);
    if (against_others) {
        t.by_place = grouped(t.blow_list, &BlowFigures::place);
        t.by_followed = grouped(t.blow_list, &BlowFigures::bell_before);
    }
    return t;
}

}  // namespace qn

namespace qn {

std::vector<BlowFigures> numbered_blows(std::span<const BlowTimed> blows, TouchStriking& t) { return number_blows(blows, t); }

void touch_blow_figures(TouchStriking& t) { blow_figures(t); }

std::vector<GroupFigures> grouped_figures(const std::vector<BlowFigures>& list, std::int32_t BlowFigures::*key) {
    return grouped(list, key);
}

DelaySuggestion delay_suggestion(const std::vector<BlowFigures>& list) {
    TouchStriking t;
    t.blow_list = list;
    suggest_delay(t);
    return t.delay;
}

}  // namespace qn
