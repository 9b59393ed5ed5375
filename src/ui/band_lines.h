// Band mode's lines on the service screen: a cell per bell, two to a line
// from the scratch area's top, with the bell's rings this touch, the stroke
// of its last blow and its mean error against the band in the last
// striking report (none shown until a report has come).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "config/settings.h"
#include "core/strike_records.h"
#include "striking/records.h"

namespace qn {

class Screen;

class BandLines : public StrikeReport {
public:
    // last_report: the last striking report (null: none yet).
    BandLines(Screen& screen, std::function<const TouchStriking*()> last_report)
        : screen_(screen), last_report_(std::move(last_report)) {}

    void blow_timed(const BlowTimed& r) override;
    void touch_started(const TouchStarted&) override;

    // The cell's text, 39 columns: "Bell  3   124 rings  hand  -12 ms".
    std::string cell_text(int bell) const;

private:
    struct Cell {
        std::int32_t rings = 0;
        bool hand = false;
    };
    void draw(int bell);

    Screen& screen_;
    std::function<const TouchStriking*()> last_report_;
    std::array<Cell, kMaxBandBells + 1> cells_{};  // by bell, from 1
};

}  // namespace qn
