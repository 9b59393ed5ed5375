#include "ui/striking_summary.h"

#include "console/screen.h"
#include "runlog/striking_summary_lines.h"

namespace qn {

void StrikingSummary::touch_striking(const TouchStrikingPtr& t) {
    std::vector<std::string> lines = striking_summary_lines(*t);
    if (files_line_)
        if (std::string f = files_line_(); !f.empty()) {
            lines.push_back(" " + f);
            lines = wrapped_screen_lines(lines);
        }
    screen_.window(1, kFirstLine, Screen::kCols, kLastLine);
    screen_.clear_window();
    screen_.text_colour(kWhite);
    for (std::size_t i = 0; i < lines.size() && i <= static_cast<std::size_t>(kLastLine - kFirstLine); ++i) {
        screen_.move_to(1, static_cast<int>(i) + 1);
        screen_.write(lines[i]);
    }
    screen_.window(1, 1, Screen::kCols, Screen::kRows);
}

}  // namespace qn
