#include "ui/monitor_region.h"

#include <algorithm>

#include "ui/service_screen.h"
#include "console/screen.h"
#include "core/text.h"

namespace qn {

namespace {

// The figures after "Duration=" and "Peal speed=" can get shorter (0:0:59 is
// followed by 0:1:0), so they are written blank-filled up to the labels at
// column 20 to leave no old characters behind.
constexpr std::size_t kDurationField = 10;  // columns 10..19
constexpr std::size_t kSpeedField = 8;      // columns 12..19

std::string blank_filled(std::string s, std::size_t width) {
    if (s.size() < width) s.resize(width, ' ');
    return s;
}

// The rows-per-peal speed, computed in whole numbers: 5040 rows at the mean
// row interval so far, 0.084 = 5040 / 60000 minutes per millisecond.
std::int64_t peal_minutes(std::int64_t duration_ms, std::int32_t rows) {
    const std::int64_t intervals = rows - 1;
    return duration_ms * 84 / (1000 * intervals);
}

// The nth count's ratio (from 1) goes into one of eight six-column slots.
int ratio_column(std::int32_t n) { return 32 + 6 * ((n - 1) % 8); }

}  // namespace

void MonitorRegion::write_at(int col, int line, const std::string& text) {
    screen_.move_to(col, line);
    screen_.write(text);
}

void MonitorRegion::write_at(int col, int line, const std::string& text, std::uint8_t colour) {
    screen_.text_colour(colour);
    write_at(col, line, text);
}

void MonitorRegion::draw_frame(std::int32_t rows, std::int64_t duration_ms) {
    screen_.text_colour(kWhite);
    screen_.move_to(1, 22);
    screen_.write_line("Row count = " + pad_int(rows, 4));
    screen_.write_line("Duration=" + elapsed_text(duration_ms));
    screen_.write_line("Peal speed=0:  0");
    screen_.write("QA=       ");
    write_at(20, 23, "Spurious");
    write_at(20, 24, "Missed  ");
    write_at(20, 25, "Good    ");
    if (clashes_ > 0) write_at(8, 25, "SkipSend=" + str(clashes_));
    write_at(20, 22, "Ave sensorinterval=    ms Space ratio Min=      Max=");
}

void MonitorRegion::draw_figures(std::int32_t rows, std::int64_t duration_ms) {
    const std::int64_t d = std::max<std::int64_t>(duration_ms, 0);
    write_at(13, 22, pad_int(rows, 4));
    write_at(10, 23, blank_filled(elapsed_text(d), kDurationField));
    const std::int64_t p = peal_minutes(d, rows);
    write_at(12, 24, blank_filled(str(p / 60) + ":" + pad_int(p % 60, 3), kSpeedField));
}

void MonitorRegion::draw_update_time(std::int64_t took_ms) {
    if (update_ms_ == -1)
        update_ms_ = 20;
    else
        update_ms_ = static_cast<std::int32_t>((9 * static_cast<std::int64_t>(update_ms_) + took_ms) / 10);
    const std::uint8_t colour = update_ms_ <= 20 ? kGreen : update_ms_ <= 40 ? kYellow : kRed;
    write_at(4, 25, pad_int(update_ms_, 3), colour);
    screen_.text_colour(kWhite);
}

void MonitorRegion::draw_statistics(const SpacingJudged& r) {
    write_at(39, 22, pad_int(r.average_ms, 4), kWhite);
    write_at(62, 22, fixed_text(r.min_ratio, 5, 3), kWhite);
    write_at(72, 22, fixed_text(r.max_ratio, 5, 3), kWhite);
}

// Each count has its line: the count at column 28, then the ratios of the
// last eight in turn.
void MonitorRegion::spacing_judged(const SpacingJudged& r) {
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
    switch (r.spacing) {
    case Spacing::Spurious:
        write_at(28, 23, pad_int(r.spurious, 4), kYellow);
        write_at(ratio_column(r.spurious), 23, " " + fixed_text(r.ratio, 5, 3), kYellow);
        screen_.text_colour(kWhite);
        // A spurious strike left out changes no figure of the others.
        if (r.corrected) return;
        break;
    case Spacing::Missed:
        write_at(28, 24, pad_int(r.missed, 4), kYellow);
        write_at(ratio_column(r.missed), 24, " " + fixed_text(r.ratio, 6, 3), kYellow);
        screen_.text_colour(kWhite);
        break;
    case Spacing::Normal:
    case Spacing::Paused:
        write_at(28, 25, pad_int(r.strikes, 4), kWhite);
        write_at(ratio_column(r.strikes), 25, " " + fixed_text(r.ratio, 5, 3), kLightGray);
        screen_.text_colour(kWhite);
        break;
    }
    draw_statistics(r);
}

// "SendMiss=" here, "SkipSend=" when the frame is drawn again: the same
// count under two names.
void MonitorRegion::events_clashed(const EventsClashed& r) {
    clashes_ = r.clashes;
    if (clashes_ <= 0) return;
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
    write_at(8, 25, "SendMiss=" + str(clashes_));
}

}  // namespace qn
