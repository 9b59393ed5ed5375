// Over a tower link, the ringer's blows placed in the band's rhythm: the
// other ringers' bells as they arrived and the ringer's own keys are cut
// into rows (each bell once a row), and each of the ringer's blows is timed
// against a line fitted through the other bells' blows of the rows around
// it, with one blow's handstroke gap before each handstroke row. The word
// of another bell comes late by the network's delay, so that delay is in
// the figures.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

struct BandFit {
    std::int32_t placed = 0;  // blows of the ringer timed
    std::int32_t bells = 0;
    double blow_ms = 0;
};

// Too few other bells (or rings) make no band: nothing is placed.
inline constexpr std::int32_t kMinBandBells = 3;

// Sets each placed blow's ideal time, error, stroke, place and the bell it
// followed; the others are left untimed.
BandFit time_against_band(std::vector<BlowFigures>& list, std::span<const BellHeard> heard);

// The pieces a whole band's analysis shares.
namespace band_rows {

// A blow in time order, of the ringer (bell 0) or of any bell.
struct Event {
    std::int64_t at_us = 0;
    std::int32_t bell = 0;  // 0: the ringer's
    bool handstroke = false;
    BlowFigures* blow = nullptr;
    // A band's bell counts its own rows: its blow goes this many rows
    // after its last (2 after a missed blow); 0: placed by time alone.
    std::int32_t rows_on = 0;
    std::int32_t row = 0, place = 0;
    std::int64_t beat = 0;
};

std::int32_t cut_rows(std::vector<Event>& ev, std::int32_t bells);
std::vector<bool> handstroke_rows(const std::vector<Event>& ev, std::int32_t rows);
void number_beats(std::vector<Event>& ev, const std::vector<bool>& hand, std::int32_t bells);

// A line y = at + slope x by weighted least squares.
class WeightedLine {
public:
    void add(double x, double y, double w) {
        sw_ += w;
        sx_ += w * x;
        sy_ += w * y;
        sxx_ += w * x * x;
        sxy_ += w * x * y;
        ++n_;
    }
    int points() const { return n_; }
    // False when the points draw no line.
    bool fit(double& at, double& slope) const {
        const double det = sw_ * sxx_ - sx_ * sx_;
        if (det <= 0) return false;
        slope = (sw_ * sxy_ - sx_ * sy_) / det;
        at = (sy_ - slope * sx_) / sw_;
        return true;
    }

private:
    double sw_ = 0, sx_ = 0, sy_ = 0, sxx_ = 0, sxy_ = 0;
    int n_ = 0;
};

}  // namespace band_rows

}  // namespace qn
