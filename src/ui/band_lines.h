// Band mode's lines on the service screen: a cell per bell, two to a line
// from the scratch area's top, with the bell's rings this touch, the stroke
// of its last blow and its mean error against the band in the last
// striking report (none shown until a report has come).
#pragma once

#include <array>
#include <cstdint>

#include "config/settings.h"
#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

class Screen;

class BandLines : public StrikeReport, public StrikingReport {
public:
    explicit BandLines(Screen& screen) : screen_(screen) {}

    void blow_timed(const BlowTimed& r) override;
    void touch_started(const TouchStarted&) override;
    void touch_striking(const TouchStrikingPtr& t) override;

    // The cell's text, 39 columns: "Bell  3   124 rings  hand  -12 ms".
    std::string cell_text(int bell) const;

private:
    struct Cell {
        std::int32_t rings = 0;
        bool hand = false;
        bool has_error = false;
        double error_ms = 0;
    };
    void draw(int bell);

    Screen& screen_;
    std::array<Cell, kMaxBandBells + 1> cells_{};  // by bell, from 1
};

}  // namespace qn
