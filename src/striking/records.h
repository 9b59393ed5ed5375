// What the striking report decides about a touch, and the report it tells
// it to. Times are stopwatch microseconds, errors milliseconds (+ late,
// - early), blows numbered from 1 in the touch as the row counter counts
// them, places and bells from 1.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/fan_out.h"
#include "core/strike_records.h"

namespace qn {

// What each blow is timed against.
enum class StrikingReference {
    AutomaticBells,  // the beat of automatic ringing: a blow's error is against where it belongs
    OwnRhythm,       // the ringer's own rhythm, fitted to the blows around each blow
    Band,            // the other ringers' bells over a tower link, as they arrived
    BandOwnRhythm,   // a band on one box: every bell against the band's rhythm
    Tower,           // a band on one box and the other ringers over a tower link
};

struct StrokeFigures {
    std::int32_t blows = 0;
    double mean_ms = 0;
    double sd_ms = 0;
};

struct BlowFigures {
    std::int32_t blow = 0;      // counting missed blows
    bool handstroke = false;    // as the beat or the ringer's rhythm has it
    bool keyed_handstroke = false;  // as the program took it: the delay it had is that stroke's
    bool timed = false;         // false: a spurious strike, or no row of the automatic bells near it
    Spacing spacing = Spacing::Normal;
    std::int64_t event_us = 0;  // the sensor's signal
    std::int64_t due_us = 0;    // when its key sounded
    std::int64_t ideal_us = 0;  // where it belonged (the fitted rhythm's time without automatic bells)
    double error_ms = 0;
    double error_pct = 0;       // of the blow interval
    std::int32_t delay_ms = 0;
    std::int32_t row = 0;       // the touch's row (automatic bells; rounds before it are negative)
    std::int32_t place = 0;     // automatic bells
    std::int32_t bell_before = 0;
    std::int32_t bell = 0;      // in band mode, from 1; 0 for the one ringer's bell
};

// One line of the tables by place and by the bell followed (0: leading).
struct GroupFigures {
    std::int32_t key = 0;
    StrokeFigures all, hand, back;
};

// A whole pull of the ringer's own blows: handstroke, backstroke, next handstroke.
struct PullFigures {
    std::int32_t blow = 0;        // its handstroke's
    double whole_pull_ms = 0;
    double hand_to_back_ms = 0;
    double back_to_hand_ms = 0;
};

// The delay that would centre the ringer's blows on where they belong.
struct DelaySuggestion {
    bool offered = false;
    std::int32_t hand_delay_ms = 0;  // in force during the touch (the first sensing point's)
    std::int32_t back_delay_ms = 0;
    std::int32_t hand_change_ms = 0;  // to add; the mean error at that stroke, with its sign turned
    std::int32_t back_change_ms = 0;
};

// In band mode, one bell's figures against the band's rhythm.
struct BellStriking {
    std::int32_t bell = 0;  // from 1
    std::int32_t blows = 0;
    std::int32_t timed = 0;
    std::int32_t spurious = 0;
    std::int32_t missed = 0;
    StrokeFigures all, hand, back;
    std::vector<GroupFigures> by_place;
    DelaySuggestion delay;  // the delays this bell had, and the change K makes to them
    bool strokes_turned = false;  // the program took most of its handstrokes for backstrokes
};

// Errors in twentieths of a blow from half a blow early to half a blow
// late, with the blows beyond at each end: bin 0 is earlier than -50%, bin
// kBins - 1 later than +50%.
inline constexpr int kHistogramBins = 22;

struct TouchStriking {
    std::int32_t touch = 0;  // of the run, from 1
    TouchEnd why = TouchEnd::Pause;
    StrikingReference reference = StrikingReference::OwnRhythm;
    std::int32_t blows = 0;     // counting missed ones
    std::int32_t timed = 0;
    std::int32_t spurious = 0;  // strikes judged spurious: not timed
    std::int32_t missed = 0;
    std::int32_t untimed = 0;   // blows with no row of the automatic bells (or the band) near them
    bool strokes_turned = false;  // the program took most handstrokes for backstrokes
    StrokeFigures all, hand, back;
    std::array<std::int32_t, 3> worst{};  // indexes into blow_list, the furthest from where they belonged first
    std::int32_t worst_count = 0;

    double blow_ms = 0;        // the blow interval the percentages are of
    std::int32_t bells = 0;    // known with automatic bells or a band; 0 otherwise
    double peal_minutes = 0;   // their speed; 0 when not known
    // The ringer's own rhythm, from its whole pulls.
    double whole_pull_ms = 0;
    double hand_to_back_ms = 0;
    double back_to_hand_ms = 0;
    double pull_first_ms = 0;  // whole pull over the first and the last quarter of the touch
    double pull_last_ms = 0;

    DelaySuggestion delay;
    std::vector<BlowFigures> blow_list;
    std::vector<GroupFigures> by_place;     // automatic bells or a band
    std::vector<GroupFigures> by_followed;
    std::vector<PullFigures> pulls;
    std::vector<BellStriking> band_bells;  // band mode: a line per bell, by bell; empty otherwise
    std::int32_t rows = 0;                 // band mode: the rows the band's blows were cut into
    std::array<std::int32_t, kHistogramBins> histogram{};
};

// Shared, not copied: a peal's report is a few hundred kilobytes, and the
// files are made from it on a thread of their own.
using TouchStrikingPtr = std::shared_ptr<const TouchStriking>;

class StrikingReport {
public:
    virtual ~StrikingReport() = default;
    virtual void touch_striking(const TouchStrikingPtr&) {}
};

// One striking report told to several observers, in the order added.
class StrikingFanOut : public FanOut<StrikingReport, 3> {
public:
    void touch_striking(const TouchStrikingPtr& r) override { each(&StrikingReport::touch_striking, r); }
};

}  // namespace qn
