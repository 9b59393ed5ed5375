#include "runlog/striking_summary_lines.h"

#include <algorithm>
#include <cmath>

#include "console/screen.h"
#include "core/text.h"
#include "striking/analysis.h"

namespace qn {

namespace {

std::string signed_int(double v) {
    const long n = std::lround(v);
    return (n > 0 ? "+" : "") + str(n);
}

std::string ms(double v) { return signed_int(v) + " ms"; }

std::string sd(double v) { return str(std::lround(v)); }

std::string seconds(double millis) { return fixed_text(millis / 1000.0, 1, 2) + " s"; }

std::string times(long n) { return n == 1 ? "once" : n == 2 ? "twice" : str(n) + " times"; }

std::string heading(const TouchStriking& t) {
    if (!t.band_bells.empty())
        return "Touch " + str(t.touch) + ": " + str(t.timed) + " blows of " + str(static_cast<long>(t.band_bells.size())) +
               " bells against " + (t.reference == StrikingReference::Tower ? "the whole tower" : "the band's rhythm") +
               " (+ late, - early)";
    const char* against = t.reference == StrikingReference::AutomaticBells ? "the automatic bells"
                          : t.reference == StrikingReference::Band        ? "the band in the tower"
                                                                          : "your own rhythm";
    return "Touch " + str(t.touch) + ": " + str(t.timed) + " blows timed against " + against + " (+ late, - early)";
}

std::string errors(const TouchStriking& t) {
    if (t.reference == StrikingReference::OwnRhythm)
        return " Steadiness: handstroke sd " + sd(t.hand.sd_ms) + " ms, backstroke sd " + sd(t.back.sd_ms) +
               " ms, all sd " + sd(t.all.sd_ms) + " ms";
    return " Handstroke " + ms(t.hand.mean_ms) + " sd " + sd(t.hand.sd_ms) + ", backstroke " + ms(t.back.mean_ms) +
           " sd " + sd(t.back.sd_ms) + ", all " + ms(t.all.mean_ms) + " sd " + sd(t.all.sd_ms);
}

std::string worst(const TouchStriking& t) {
    std::string line = " Worst:";
    for (std::int32_t i = 0; i < t.worst_count; ++i) {
        const BlowFigures& b = t.blow_list[static_cast<std::size_t>(t.worst[static_cast<std::size_t>(i)])];
        line += std::string(i ? "," : "") + " blow " + str(b.blow) + (b.handstroke ? " hand " : " back ") + ms(b.error_ms);
    }
    return line;
}

std::string peal_time(double minutes) {
    const long m = std::lround(minutes);
    return str(m / 60) + "h" + (m % 60 < 10 ? "0" : "") + str(m % 60);
}

void rhythm(const TouchStriking& t, std::vector<std::string>& out) {
    const double gap_ms = t.back_to_hand_ms - t.hand_to_back_ms;
    if (t.reference != StrikingReference::OwnRhythm) {
        out.push_back(" Beat " + str(std::lround(t.blow_ms)) + " ms (peal " + peal_time(t.peal_minutes) +
                      "); your whole pull " + seconds(t.whole_pull_ms) + ", handstroke gap " +
                      fixed_text(gap_ms / t.blow_ms, 1, 2) + " blows");
        return;
    }
    out.push_back(" Whole pull " + seconds(t.whole_pull_ms) + " (" + seconds(t.pull_first_ms) +
                  " in the first quarter, " + seconds(t.pull_last_ms) + " in the last)");
    out.push_back(" Handstroke gap " + str(std::lround(gap_ms)) + " ms (hand to back " + seconds(t.hand_to_back_ms) +
                  ", back to hand " + seconds(t.back_to_hand_ms) + ")");
}

// The mean in each place, in order of place; a place never rung shows "-".
std::string by_place(const TouchStriking& t) {
    std::string line = " By place, 1 to " + str(t.bells) + " (ms):";
    std::size_t g = 0;
    for (std::int32_t place = 1; place <= t.bells; ++place) {
        const bool rung = g < t.by_place.size() && t.by_place[g].key == place;
        line += " " + (rung ? signed_int(t.by_place[g++].all.mean_ms) : std::string("-"));
    }
    return line;
}

// The delay keys move both strokes by 20 ms a press.
std::string delay(const TouchStriking& t) {
    const double mean = t.all.mean_ms;
    const long presses = std::lround(std::fabs(mean) / 20.0);
    std::string line = " Keys " + str(std::lround(std::fabs(mean))) + " ms " + (mean >= 0 ? "late" : "early") +
                       " on average: ";
    if (presses > 0) line += std::string("press ") + (mean > 0 ? "-" : "+") + " " + times(presses) + ", or ";
    return line + "K for " + str(suggested_hand_delay(t.delay)) + "/" + str(suggested_back_delay(t.delay)) +
           " ms (hand/back)";
}

// ---- a band ----

// Both the bell's lateness and its scatter: how far its blows were from
// where they belonged, on the whole.
double off_ms(const StrokeFigures& s) { return std::sqrt(s.mean_ms * s.mean_ms + s.sd_ms * s.sd_ms); }

std::string worst_bell(const TouchStriking& t) {
    const BellStriking* worst = nullptr;
    for (const BellStriking& b : t.band_bells)
        if (b.timed > 0 && (!worst || off_ms(b.all) > off_ms(worst->all))) worst = &b;
    if (!worst) return " No bell timed: too few whole rows";
    return " Worst bell " + str(worst->bell) + ": " + ms(worst->all.mean_ms) + " sd " + sd(worst->all.sd_ms) +
           " (handstroke " + ms(worst->hand.mean_ms) + ", backstroke " + ms(worst->back.mean_ms) + ")";
}

// Every bell's mean and sd, as many lines as they take.
void each_bell(const TouchStriking& t, std::vector<std::string>& out) {
    std::string line = " Mean/sd ms:";
    for (const BellStriking& b : t.band_bells) {
        const std::string item = " " + str(b.bell) + ":" + (b.timed ? signed_int(b.all.mean_ms) + "/" + sd(b.all.sd_ms) : "-");
        if (line.size() + item.size() > Screen::kCols - 1) {
            out.push_back(line);
            line = "           ";
        }
        line += item;
    }
    out.push_back(line);
}

void band_lines(const TouchStriking& t, std::vector<std::string>& out) {
    out.push_back(worst_bell(t));
    each_bell(t, out);
    if (t.blow_ms > 0)
        out.push_back(" Beat " + str(std::lround(t.blow_ms)) + " ms (peal " + peal_time(t.peal_minutes) +
                      "); whole pull " + seconds(t.whole_pull_ms) + ", handstroke gap " +
                      fixed_text((t.back_to_hand_ms - t.hand_to_back_ms) / t.blow_ms, 1, 2) + " blows");
    if (t.reference == StrikingReference::Tower)
        out.push_back(" The others' bells as they reached here: the network's delay is in the figures");
    std::string turned;
    for (const BellStriking& b : t.band_bells)
        if (b.strokes_turned) turned += " " + str(b.bell);
    if (!turned.empty()) out.push_back(" Handstrokes taken for backstrokes on bells" + turned + ": press H or B with its number");
    const bool offered = std::any_of(t.band_bells.begin(), t.band_bells.end(), [](const BellStriking& b) { return b.delay.offered; });
    if (offered) out.push_back(" K sets each bell's key delays to its suggestion");
}

std::string bell_line(const BellStriking& b) {
    std::string line = " Bell " + str(b.bell) + ": " + str(b.blows) + " blows, " + str(b.timed) + " timed, " +
                       str(b.missed) + " missed, " + str(b.spurious) + " spurious";
    if (b.timed)
        line += "; handstroke " + ms(b.hand.mean_ms) + " sd " + sd(b.hand.sd_ms) + ", backstroke " + ms(b.back.mean_ms) +
                " sd " + sd(b.back.sd_ms);
    if (b.delay.offered)
        line += "; K for " + str(suggested_hand_delay(b.delay)) + "/" + str(suggested_back_delay(b.delay)) + " ms (hand/back)";
    return line;
}

// A line too long for the screen goes on under itself, indented, broken
// at a blank where there is one.
}  // namespace

std::vector<std::string> wrapped_screen_lines(const std::vector<std::string>& lines) {
    constexpr std::size_t kWidth = Screen::kCols - 1;
    const std::string indent = "   ";
    std::vector<std::string> out;
    for (std::string rest : lines) {
        while (rest.size() > kWidth) {
            std::size_t cut = rest.rfind(' ', kWidth);
            if (cut == std::string::npos || cut <= indent.size()) cut = kWidth;
            out.push_back(rest.substr(0, cut));
            const std::size_t next = rest.find_first_not_of(' ', cut);
            rest = indent + (next == std::string::npos ? std::string() : rest.substr(next));
        }
        out.push_back(rest);
    }
    return out;
}

std::vector<std::string> striking_summary_lines(const TouchStriking& t) {
    std::vector<std::string> out{heading(t), errors(t)};
    if (!t.band_bells.empty()) {
        out[1] = " The band: handstroke " + ms(t.hand.mean_ms) + " sd " + sd(t.hand.sd_ms) + ", backstroke " +
                 ms(t.back.mean_ms) + " sd " + sd(t.back.sd_ms) + ", all sd " + sd(t.all.sd_ms);
        band_lines(t, out);
        return wrapped_screen_lines(out);
    }
    out.push_back(worst(t));
    if (t.reference == StrikingReference::Band)
        out.push_back(" The others' bells as they reached you: the network's delay is in these figures");
    rhythm(t, out);
    if (!t.by_place.empty()) out.push_back(by_place(t));
    if (t.strokes_turned) out.push_back(" The program had handstrokes as backstrokes: press H or B as a touch starts");
    if (t.delay.offered) out.push_back(delay(t));
    return wrapped_screen_lines(out);
}

std::vector<std::string> striking_log_lines(const TouchStriking& t) {
    std::vector<std::string> out = striking_summary_lines(t);
    for (const BellStriking& b : t.band_bells) out.push_back(bell_line(b));
    return out;
}

}  // namespace qn
