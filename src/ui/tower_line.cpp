#include "ui/tower_line.h"

#include <string>

#include "config/settings.h"
#include "console/layout.h"
#include "console/screen.h"
#include "core/colour.h"
#include "core/text.h"
#include "link/session.h"
#include "link/tower.h"

namespace qn {

namespace {

constexpr int kLineWithMenu = kScratchFirstLine - 1;
constexpr int kLineWithBigNumbers = kScratchLastLine;

std::string ms_text(std::int64_t us) { return str((us + 500) / 1000); }

// "38 ms ahead (network 37+-3 ms)": how early rings go, for the delay
// measured; shorter forms where the line has less room.
std::string ahead_text(const Settings& cfg, const link::LinkCounters& n, std::size_t room) {
    const std::string figure = ms_text(n.network_us) + "+-" + ms_text(n.spread_us);
    const std::string head = cfg.tower_send_ahead ? ms_text(n.lead_us) + " ms ahead" : std::string("not sent ahead");
    const std::string tail = cfg.tower_send_ahead && n.rings_short > 0 ? ", key delay short)" : ")";
    for (const std::string& t : {", " + head + " (network " + figure + " ms" + tail, ", " + head + " (net " + figure + tail,
                                 ", " + head})
        if (t.size() <= room) return t;
    return {};
}

// At most a screen row less its last column, but for a failure's reason.
std::string line_text(const Settings& cfg, const TowerService& tower) {
    const link::TowerLink* l = tower.session();
    const std::string head = "Tower " + str(cfg.tower_id) + ": ";
    if (!l) return head + "NOT RINGING - no link (see the run log)";
    const link::LinkStatus st = l->status();
    const link::LinkCounters n = l->counters();
    std::string t = head + link::phase_text(st, link::TowerLink::now_ms());
    if (st.phase == link::Phase::Failed) return t + " - " + st.detail;
    // A refusal takes the place of the bells: the log names them.
    const bool refused = st.phase == link::Phase::Joined && !st.refused.empty();
    std::string counts = (refused ? std::string() : " | bells " + tower.bells_text()) + " | rung " +
                         str(n.rings_sent) + " lost " + str(n.rings_lost);
    // The delay measured says more than the last echo, and both do not fit.
    const std::size_t room = Screen::kCols - 1;
    if (st.phase == link::Phase::Joined && n.network_us >= 0 && !refused)
        t += ahead_text(cfg, n, room > t.size() + counts.size() ? room - t.size() - counts.size() : 0);
    else if (st.phase == link::Phase::Joined && n.echo_ms >= 0)
        counts += " | echo " + str(n.echo_ms) + " ms";
    // While it waits to try again, the reason gives way to the counts: the
    // line is one screen row. So does what the tower refuses of a band.
    std::string why;
    if (st.phase == link::Phase::Waiting) why = " - " + st.detail;
    else if (refused) why = " - REFUSED " + st.refused;
    if (!why.empty()) {
        if (t.size() + why.size() + counts.size() > room)
            why.resize(room > t.size() + counts.size() ? room - t.size() - counts.size() : 0);
        t += why;
    }
    return t + counts;
}

Colour line_colour(const link::TowerLink* l) {
    if (!l) return kLightRed;
    const link::LinkStatus st = l->status();
    switch (st.phase) {
    case link::Phase::Joined: return st.refused.empty() ? kLightGreen : kYellow;
    case link::Phase::Failed: return kLightRed;
    default: return kYellow;
    }
}

}  // namespace

void TowerLine::show() {
    if (!tower_.take_news()) return;
    std::string text = line_text(cfg_, tower_);
    if (text.size() > static_cast<std::size_t>(Screen::kCols)) text.resize(Screen::kCols);
    text.resize(Screen::kCols, ' ');
    const std::uint8_t colour = line_colour(tower_.session());
    const int row = cfg_.big_numbers ? kLineWithBigNumbers : kLineWithMenu;
    Screen& s = screen_;
    if (shown_generation_ == tower_.generation() && text == shown_ && s.line_text(row) == text &&
        s.at(row, 1).fg == colour)
        return;
    const int l = s.win_left(), t = s.win_top(), r = s.win_right(), b = s.win_bottom();
    const int x = s.cursor_x(), y = s.cursor_y();
    const std::uint8_t fg = s.text_colour();
    s.window(1, 1, Screen::kCols, Screen::kRows);
    s.move_to(1, row);
    s.text_colour(colour);
    // The last column is left alone: writing it would scroll a full window.
    s.write(std::string_view(text).substr(0, Screen::kCols - 1));
    s.text_colour(fg);
    s.window(l, t, r, b);
    s.move_to(x, y);
    shown_ = text;
    shown_generation_ = tower_.generation();
}

}  // namespace qn
