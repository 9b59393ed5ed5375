// Rows 22-25 of the service screen, the monitor figures: the row count,
// the touch's duration and peal speed, how long the screen's update took,
// and the spacing of the strikes with the spurious, missed and good counts.
// Nothing else writes there (the clears of larger windows aside).
#pragma once

#include <cstdint>
#include <string>

#include "core/strike_records.h"

namespace qn {

class Screen;

class MonitorRegion : public StrikeReport {
public:
    explicit MonitorRegion(Screen& screen) : screen_(screen) {}

    // The labels, with the figures of a touch that has at most one row.
    void draw_frame(std::int32_t rows, std::int64_t duration_ms);
    // The figures of a touch under way.
    void draw_figures(std::int32_t rows, std::int64_t duration_ms);
    // "QA=": how long this update of the screen took, smoothed 9:1.
    void draw_update_time(std::int64_t took_ms);
    std::int32_t update_ms() const { return update_ms_; }

    void spacing_judged(const SpacingJudged& r) override;
    void events_clashed(const EventsClashed& r) override;

private:
    void write_at(int col, int line, const std::string& text);
    void write_at(int col, int line, const std::string& text, std::uint8_t colour);
    void draw_statistics(const SpacingJudged& r);

    Screen& screen_;
    std::int32_t clashes_ = 0;
    std::int32_t update_ms_ = -1;  // -1: no update timed yet
};

}  // namespace qn
