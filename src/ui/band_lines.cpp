#include "ui/band_lines.h"

#include <cmath>

#include "console/layout.h"
#include "console/screen.h"
#include "core/colour.h"
#include "core/text.h"

namespace qn {

namespace {

constexpr int kCellColumns = 40;

}  // namespace

std::string BandLines::cell_text(int bell) const {
    const Cell& c = cells_[static_cast<std::size_t>(bell)];
    std::string t = "Bell " + pad_int(bell, 2) + " " + pad_int(c.rings, 5) + " rings  " + (c.hand ? "hand" : "back");
    const TouchStriking* report = last_report_ ? last_report_() : nullptr;
    if (report)
        for (const BellStriking& b : report->band_bells)
            if (b.bell == bell && b.all.blows > 0) {
                const long e = std::lround(b.all.mean_ms);
                t += "  " + std::string(e > 0 ? "+" : "") + str(e) + " ms";
            }
    t.resize(kCellColumns - 1, ' ');
    return t;
}

void BandLines::draw(int bell) {
    const int slot = bell - 1;
    screen_.text_colour(kWhite);
    screen_.move_to(1 + kCellColumns * (slot % 2), kScratchFirstLine + slot / 2);
    screen_.write(cell_text(bell));
}

void BandLines::blow_timed(const BlowTimed& r) {
    if (r.bell < 1 || r.bell > kMaxBandBells) return;
    Cell& c = cells_[static_cast<std::size_t>(r.bell)];
    ++c.rings;
    c.hand = r.handstroke;
    draw(r.bell);
}

void BandLines::touch_started(const TouchStarted&) {
    for (Cell& c : cells_) c.rings = 0;
}


}  // namespace qn
