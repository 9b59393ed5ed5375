#include "runlog/striking_summary_lines.h"

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

}  // namespace

std::vector<std::string> striking_summary_lines(const TouchStriking& t) {
    std::vector<std::string> out{heading(t), errors(t), worst(t)};
    if (t.reference == StrikingReference::Band)
        out.push_back(" The others' bells as they reached you: the network's delay is in these figures");
    rhythm(t, out);
    if (!t.by_place.empty()) out.push_back(by_place(t));
    if (t.strokes_turned) out.push_back(" The program had handstrokes as backstrokes: press H or B as a touch starts");
    if (t.delay.offered) out.push_back(delay(t));
    for (std::string& line : out)
        if (line.size() > Screen::kCols - 1) line.resize(Screen::kCols - 1);
    return out;
}

}  // namespace qn
