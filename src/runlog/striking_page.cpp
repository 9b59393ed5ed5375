#include "runlog/striking_page.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "core/text.h"
#include "runlog/striking_summary_lines.h"
#include "striking/analysis.h"

namespace qn {

namespace {

std::string num(double v, int decimals) {
    const std::string s = fixed_text(v, 1, decimals);
    return s.find_first_not_of("-0.") == std::string::npos && s[0] == '-' ? s.substr(1) : s;  // no "-0"
}

std::string signed_num(double v, int decimals) { return (v > 0 ? "+" : "") + num(v, decimals); }

std::string escaped(const std::string& s) {
    std::string out;
    for (char ch : s) {
        switch (ch) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += ch;
        }
    }
    return out;
}

// ---- charts -----------------------------------------------------------------------

// A plotting area inside an SVG of w x h, values mapped linearly.
struct Frame {
    double w = 720, h = 260, left = 56, right = 16, top = 16, bottom = 40;
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;

    double x(double v) const { return left + (v - x0) / (x1 - x0) * (w - left - right); }
    double y(double v) const { return h - bottom - (v - y0) / (y1 - y0) * (h - top - bottom); }
    std::string open(const std::string& id, const std::string& label) const {
        return "<svg id=\"" + id + "\" width=\"" + num(w, 0) + "\" height=\"" +
               num(h, 0) + "\" viewBox=\"0 0 " + num(w, 0) + " " + num(h, 0) + "\" role=\"img\" aria-label=\"" +
               escaped(label) + "\">\n";
    }
    std::string line(double xa, double ya, double xb, double yb, const std::string& style) const {
        return "<line x1=\"" + num(xa, 1) + "\" y1=\"" + num(ya, 1) + "\" x2=\"" + num(xb, 1) + "\" y2=\"" + num(yb, 1) +
               "\" " + style + "/>\n";
    }
    std::string text(double xa, double ya, const std::string& s, const char* anchor = "middle") const {
        return "<text x=\"" + num(xa, 1) + "\" y=\"" + num(ya, 1) + "\" text-anchor=\"" + anchor + "\">" + escaped(s) +
               "</text>\n";
    }
    // A horizontal grid line with its label at the left.
    std::string y_tick(double v, const std::string& label, bool solid) const {
        return line(left, y(v), w - right, y(v), solid ? "stroke=\"#000\"" : "stroke=\"#999\" stroke-dasharray=\"2,3\"") +
               text(left - 4, y(v) + 4, label, "end");
    }
};

// A step that gives about five grid lines over span.
double nice_step(double span) {
    const double raw = span / 5.0;
    const double p = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * p) return m * p;
    return 10.0 * p;
}

std::string y_grid(const Frame& f, double scale, int decimals, const std::string& unit) {
    std::string out;
    const double step = nice_step(f.y1 - f.y0);
    for (double v = std::ceil(f.y0 / step) * step; v <= f.y1 + 1e-9; v += step)
        out += f.y_tick(v, num(v * scale, decimals) + unit, std::fabs(v) < 1e-9);
    return out;
}

// Blow numbers under a chart whose x is the blow.
std::string x_blows(const Frame& f) {
    std::string out;
    const double step = std::max(1.0, nice_step(f.x1 - f.x0));
    const double base = f.h - f.bottom;
    for (double v = step; v < f.x1; v += step)
        out += f.line(f.x(v), base, f.x(v), base + 4, "stroke=\"#000\"") + f.text(f.x(v), base + 15, num(v, 0));
    return out + f.text((f.left + f.w - f.right) / 2, f.h - 6, "blow");
}

std::string histogram(const TouchStriking& t) {
    Frame f;
    f.x0 = 0;
    f.x1 = kHistogramBins;
    f.y0 = 0;
    f.y1 = std::max(1, *std::max_element(t.histogram.begin(), t.histogram.end())) * 1.1;
    std::string s = f.open("histogram", "How many blows at each error, in twentieths of a blow");
    s += y_grid(f, 1, 0, "");
    for (int i = 0; i < kHistogramBins; ++i) {
        const double top = f.y(t.histogram[static_cast<std::size_t>(i)]);
        s += "<rect class=\"bar\" x=\"" + num(f.x(i) + 1, 1) + "\" y=\"" + num(top, 1) + "\" width=\"" +
             num(f.x(1) - f.x(0) - 2, 1) + "\" height=\"" + num(f.y(0) - top, 1) +
             "\" fill=\"" + (i == 0 || i == kHistogramBins - 1 ? "#fff" : "#444") + "\" stroke=\"#000\"/>\n";
    }
    const double base = f.h - f.bottom;
    for (int pct = -50; pct <= 50; pct += 25)
        s += f.line(f.x(1 + (pct + 50) / 5.0), base, f.x(1 + (pct + 50) / 5.0), base + 5, "stroke=\"#000\"") +
             f.text(f.x(1 + (pct + 50) / 5.0), base + 17, (pct > 0 ? "+" : "") + str(pct) + "%");
    s += f.text(f.x(0.5), base + 33, "beyond") + f.text(f.x(kHistogramBins - 0.5), base + 33, "beyond");
    s += f.text(f.x(6), base + 33, "early") + f.text(f.x(kHistogramBins - 6), base + 33, "late");
    return s + "</svg>\n";
}

// Handstrokes filled, backstrokes open: apart in black and white.
std::string every_blow(const TouchStriking& t) {
    Frame f;
    f.x0 = 0;
    f.x1 = std::max(1, t.blows) + 1;
    double reach = 10;
    for (const BlowFigures& b : t.blow_list)
        if (b.timed) reach = std::max(reach, std::fabs(b.error_ms));
    reach = std::min(reach * 1.1, std::max(10.0, t.blow_ms));
    f.y0 = -reach;
    f.y1 = reach;
    std::string s = f.open("blows", "Each blow's error through the touch, handstrokes filled, backstrokes open");
    s += y_grid(f, 1, 0, " ms");
    for (const BlowFigures& b : t.blow_list) {
        if (!b.timed) continue;
        const double e = std::clamp(b.error_ms, f.y0, f.y1);
        s += "<circle cx=\"" + num(f.x(b.blow), 1) + "\" cy=\"" + num(f.y(e), 1) + "\" r=\"2.2\" stroke=\"#000\" fill=\"" +
             (b.handstroke ? "#000" : "#fff") + "\"/>\n";
    }
    return s + x_blows(f) + "</svg>\n";
}

// A band: a strip per bell, its blows by row, each strip from -reach to
// +reach; a few wild blows are drawn at the edge rather than squeezing the rest.
std::string every_bells_blow(const TouchStriking& t) {
    std::vector<double> sizes;
    for (const BlowFigures& b : t.blow_list)
        if (b.timed) sizes.push_back(std::fabs(b.error_ms));
    double reach = 20;
    if (!sizes.empty()) {
        const std::size_t at = sizes.size() * 99 / 100;
        std::nth_element(sizes.begin(), sizes.begin() + static_cast<std::ptrdiff_t>(at), sizes.end());
        reach = std::clamp(sizes[at] * 1.1, 20.0, std::max(20.0, t.blow_ms));
    }
    const double strip = 44;
    Frame f;
    f.h = f.top + f.bottom + strip * static_cast<double>(t.band_bells.size());
    f.x0 = 0;
    f.x1 = std::max(1, t.rows) + 1;
    f.y0 = 0;
    f.y1 = f.h - f.top - f.bottom;
    std::string s = f.open("band-blows", "Every blow of every bell through the touch, a strip per bell, handstrokes black, backstrokes grey");
    for (std::size_t i = 0; i < t.band_bells.size(); ++i) {
        const double mid = f.top + strip * (static_cast<double>(i) + 0.5);
        s += f.line(f.left, mid, f.w - f.right, mid, "stroke=\"#000\"") + f.text(f.left - 8, mid + 4, str(t.band_bells[i].bell), "end");
        if (i > 0) s += f.line(f.left, mid - strip / 2, f.w - f.right, mid - strip / 2, "stroke=\"#999\" stroke-dasharray=\"2,3\"");
    }
    // A dot is a round-capped stroke of no length: a band's peal has tens of
    // thousands of blows, and a path per bell and stroke keeps the page small.
    std::map<std::int32_t, std::array<std::string, 2>> dots;  // by bell: hand, back
    std::map<std::int32_t, std::size_t> strip_of;
    for (std::size_t i = 0; i < t.band_bells.size(); ++i) strip_of[t.band_bells[i].bell] = i;
    for (const BlowFigures& b : t.blow_list) {
        if (!b.timed || !strip_of.count(b.bell)) continue;
        const double mid = f.top + strip * (static_cast<double>(strip_of[b.bell]) + 0.5);
        const double y = mid - std::clamp(b.error_ms / reach, -1.0, 1.0) * (strip / 2 - 3);
        dots[b.bell][b.handstroke ? 0 : 1] += "M" + num(f.x(b.row), 1) + " " + num(y, 1) + "h0";
    }
    for (const auto& [bell, d] : dots)
        for (int stroke = 0; stroke < 2; ++stroke)
            if (!d[static_cast<std::size_t>(stroke)].empty())
                s += std::string("<path class=\"dots\" fill=\"none\" stroke=\"") + (stroke == 0 ? "#000" : "#999") +
                     "\" stroke-width=\"3\" stroke-linecap=\"round\" d=\"" + d[static_cast<std::size_t>(stroke)] + "\"/>\n";
    const double base = f.h - f.bottom;
    const double step = std::max(1.0, nice_step(f.x1 - f.x0));
    for (double v = step; v < f.x1; v += step)
        s += f.line(f.x(v), base, f.x(v), base + 4, "stroke=\"#000\"") + f.text(f.x(v), base + 15, num(v, 0));
    s += f.text((f.left + f.w - f.right) / 2, f.h - 6, "row") + f.text(f.left - 8, f.top - 4, "bell", "end");
    return s + "</svg>\n<p>Each strip runs from " + num(reach, 0) + " ms early (below) to " + num(reach, 0) +
           " ms late (above); blows beyond are drawn at its edge.</p>\n";
}

std::string pull_chart(const TouchStriking& t, const std::string& id, const std::string& label, double scale,
                       int decimals, const std::string& unit, double (*value)(const PullFigures&)) {
    Frame f;
    f.h = 200;
    f.x0 = 0;
    f.x1 = std::max(1, t.blows) + 1;
    double lo = 1e18, hi = -1e18;
    for (const PullFigures& p : t.pulls) {
        lo = std::min(lo, value(p));
        hi = std::max(hi, value(p));
    }
    const double pad = std::max((hi - lo) * 0.1, 5.0);
    f.y0 = lo - pad;
    f.y1 = hi + pad;
    std::string s = f.open(id, label) + y_grid(f, scale, decimals, unit) + "<polyline fill=\"none\" stroke=\"#000\" points=\"";
    for (const PullFigures& p : t.pulls) s += num(f.x(p.blow), 1) + "," + num(f.y(value(p)), 1) + " ";
    return s + "\"/>\n" + x_blows(f) + "</svg>\n";
}

// ---- tables -----------------------------------------------------------------------

std::string cells(const StrokeFigures& s, double blow_ms) {
    if (s.blows == 0) return "<td>0</td><td></td><td></td><td></td>";
    return "<td>" + str(s.blows) + "</td><td>" + signed_num(s.mean_ms, 1) + "</td><td>" + num(s.sd_ms, 1) + "</td><td>" +
           (blow_ms > 0 ? signed_num(s.mean_ms / blow_ms * 100, 1) : std::string()) + "</td>";
}

const char* kStrokeHeader = "<th>blows</th><th>mean ms</th><th>sd ms</th><th>mean % of a blow</th>";

std::string stroke_table(const TouchStriking& t) {
    return std::string("<table><tr><th>stroke</th>") + kStrokeHeader + "</tr>\n<tr><th>handstroke</th>" +
           cells(t.hand, t.blow_ms) + "</tr>\n<tr><th>backstroke</th>" + cells(t.back, t.blow_ms) +
           "</tr>\n<tr><th>all</th>" + cells(t.all, t.blow_ms) + "</tr></table>\n";
}

std::string group_table(const std::vector<GroupFigures>& groups, const char* what, double blow_ms, bool followed) {
    std::string s = std::string("<table><tr><th>") + what + "</th>" + kStrokeHeader +
                    "<th>handstroke mean ms</th><th>backstroke mean ms</th></tr>\n";
    for (const GroupFigures& g : groups) {
        const std::string key = followed && g.key == 0 ? "leading" : str(g.key);
        s += "<tr><th>" + key + "</th>" + cells(g.all, blow_ms) + "<td>" +
             (g.hand.blows ? signed_num(g.hand.mean_ms, 1) : "") + "</td><td>" +
             (g.back.blows ? signed_num(g.back.mean_ms, 1) : "") + "</td></tr>\n";
    }
    return s + "</table>\n";
}

// A band's line per bell; by place, a table per bell, where a method put
// the bells in more than one place.
std::string bell_cells(const StrokeFigures& s) {
    if (s.blows == 0) return "<td></td><td></td>";
    return "<td>" + signed_num(s.mean_ms, 1) + "</td><td>" + num(s.sd_ms, 1) + "</td>";
}

const char* kBellStrokesHeader = "<th>hand mean</th><th>sd</th><th>back mean</th><th>sd</th>";

std::string bells_table(const TouchStriking& t) {
    std::string s = std::string("<table class=\"bells\"><tr><th>bell</th><th>blows</th><th>timed</th><th>missed</th><th>spurious</th>") +
                    kBellStrokesHeader + "<th>all mean</th><th>sd</th><th>K: hand/back</th></tr>\n";
    for (const BellStriking& b : t.band_bells) {
        s += "<tr><th>" + str(b.bell) + "</th><td>" + str(b.blows) + "</td><td>" + str(b.timed) + "</td><td>" + str(b.missed) +
             "</td><td>" + str(b.spurious) + "</td>" + bell_cells(b.hand) + bell_cells(b.back) + bell_cells(b.all) + "<td>" +
             (b.delay.offered ? str(suggested_hand_delay(b.delay)) + "/" + str(suggested_back_delay(b.delay)) : std::string()) +
             "</td></tr>\n";
    }
    return s + "</table>\n";
}

bool method_rung(const TouchStriking& t) {
    return std::any_of(t.band_bells.begin(), t.band_bells.end(), [](const BellStriking& b) { return b.by_place.size() > 1; });
}

std::string bell_place_tables(const TouchStriking& t) {
    std::string s;
    for (const BellStriking& b : t.band_bells) {
        s += "<table class=\"bell\"><caption>Bell " + str(b.bell) + "</caption><tr><th>place</th><th>blows</th>" +
             kBellStrokesHeader + "</tr>\n";
        for (const GroupFigures& g : b.by_place)
            s += "<tr><th>" + str(g.key) + "</th><td>" + str(g.all.blows) + "</td>" + bell_cells(g.hand) + bell_cells(g.back) + "</tr>\n";
        s += "<tr><th>all</th><td>" + str(b.all.blows) + "</td>" + bell_cells(b.hand) + bell_cells(b.back) + "</tr></table>\n";
    }
    return s;
}

// ---- the page ---------------------------------------------------------------------

const char* kStyle =
    "body{font-family:sans-serif;color:#000;background:#fff;max-width:48em;margin:1em auto;padding:0 1em}"
    "h1{font-size:1.4em}h2{font-size:1.1em;margin-top:1.6em}"
    "table{border-collapse:collapse;margin:0.5em 0}th,td{border:1px solid #000;padding:0.15em 0.6em}"
    "td{text-align:right}pre{font-size:0.9em}svg{display:block;max-width:100%;height:auto}"
    "svg text{font-family:sans-serif;font-size:11px}"
    "@media print{body{max-width:none}h2{break-after:avoid}svg,table{break-inside:avoid}}";

// A band's tables by place, side by side.
const char* kBandStyle = "div.bells{display:flex;flex-wrap:wrap;column-gap:1em;align-items:flex-start}"
                         "table.bell,table.bells{font-size:0.85em}table.bell th,table.bell td,table.bells th,"
                         "table.bells td{padding:0.1em 0.35em}caption{font-weight:bold;text-align:left}";

std::string band_explanation(const TouchStriking& t) {
    std::string s =
        "<h2>What the figures are</h2>\n<p>Each blow is the moment its key sounded (the sensor's signal and the bell's "
        "key delay), less the moment the band's rhythm gave its place: + is late, - early. The rhythm is marked whole "
        "pull by whole pull, as a judge marks a band: the handstroke row and the backstroke row after it, with one "
        "blow's gap before the handstroke, are set on a line fitted to all the bells' blows of that pull and the "
        "three pulls either side. Only how the bells stood against each other can be known, so the rhythm is put "
        "where the middle bell's lateness is nothing: a bell late among steady ones shows as late by all of it.";
    if (t.reference == StrikingReference::Tower)
        s += " The other ringers' rings over the link are in the rhythm too, as they reached this computer: they "
             "come late by the network's delay, and that delay is in these figures. The suggested delays are from "
             "the band's own rhythm, without them.";
    s += " The mean says how early or late a bell was on the whole, the standard deviation (sd) how far its blows "
         "scattered about its own mean. A suggested delay moves that bell's keys by its mean at each stroke; K "
         "takes every bell's. Percentages are of a blow (" + num(t.blow_ms, 0) + " ms).</p>\n";
    return s;
}

std::string explanation(const TouchStriking& t) {
    if (!t.band_bells.empty()) return band_explanation(t);
    std::string s = "<h2>What the figures are</h2>\n<p>";
    if (t.reference == StrikingReference::AutomaticBells)
        s += "Each blow is the moment its key sounded (the sensor's signal and the key delay), less the moment the "
             "automatic bells' beat gave your bell in that row: + is late, - early. The mean is how far you were "
             "from the beat on the whole; the standard deviation (sd) how far your blows scattered about your own "
             "mean: the smaller the steadier. A suggested delay moves your keys by the mean, so that they sound on "
             "the beat.";
    else if (t.reference == StrikingReference::Band)
        s += "Each blow is the moment its ring went to the tower, less the moment the rhythm of the other bells "
             "put it: the rings of the rows around, as they reached this computer, cut into rows and fitted with a "
             "line, with one blow's gap before each handstroke row. The others' rings come late by the network's "
             "delay, and that delay is in these figures: a constant lateness or earliness may be the network's, "
             "so no delay is suggested. The standard deviation (sd) says how evenly you rang among them.";
    else
        s += "With no beat to compare with, each blow is timed against the rhythm of your own blows around it "
             "(a whole pull and the interval from handstroke to backstroke fitted to the blows on either side). "
             "The standard deviation (sd) says how evenly you rang; how early or late you were against the other "
             "bells cannot be known here, so no delay is suggested. The blow is taken as the difference of your "
             "two intervals, which an evenly struck bell makes one blow.";
    s += " Percentages are of a blow (" + num(t.blow_ms, 0) +
         " ms). The handstroke gap is the interval before a handstroke less the one before a backstroke: one blow "
         "in even ringing.</p>\n";
    if (t.network_us >= 0)
        s += "<p>The network's delay to the tower was " + num(t.network_us / 1000.0, 0) + " &plusmn; " +
             num(t.spread_us / 1000.0, 0) + " ms one way; " +
             (t.lead_us >= 0 ? "your rings were sent " + num(t.lead_us / 1000.0, 0) +
                                   " ms ahead of their due time, to reach the tower when due.</p>\n"
                             : "your rings were sent at their due time (sending ahead was off).</p>\n");
    return s;
}

std::string band_sections(const TouchStriking& t) {
    std::string s = "<h2>The band, by stroke</h2>\n" + stroke_table(t);
    s += "<h2>Each bell</h2>\n<p>Means and standard deviations in ms; K sets the key delays (ms) suggested.</p>\n" +
         bells_table(t);
    if (method_rung(t)) {
        s += "<h2>Each bell by place</h2>\n<p>Means and standard deviations in ms.</p>\n<div class=\"bells\">\n" +
             bell_place_tables(t) + "</div>\n";
        s += "<h2>The band by place</h2>\n" + group_table(t.by_place, "place", t.blow_ms, false);
    }
    return s + "<h2>Every blow of every bell through the touch</h2>\n<p>Handstrokes black, backstrokes grey.</p>\n" +
           every_bells_blow(t);
}

}  // namespace

std::string striking_page(const TouchStriking& t, const std::string& run_log) {
    const std::string title = "Striking report, touch " + str(t.touch);
    std::string s = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" + title +
                    "</title>\n<style>" + kStyle + (t.band_bells.empty() ? "" : kBandStyle) + "</style></head>\n<body>\n<h1>" + title + "</h1>\n<p>From the run log " +
                    escaped(run_log) + ".</p>\n<pre>";
    for (const std::string& line : striking_summary_lines(t)) s += escaped(line) + "\n";
    s += "</pre>\n<h2>How early or late, in twentieths of a blow</h2>\n" + histogram(t);
    if (!t.band_bells.empty()) return s + band_sections(t) + explanation(t) + "</body></html>\n";
    s += "<h2>By stroke</h2>\n" + stroke_table(t);
    if (!t.by_place.empty()) s += "<h2>By place</h2>\n" + group_table(t.by_place, "place", t.blow_ms, false);
    if (!t.by_followed.empty())
        s += "<h2>By the bell followed</h2>\n" + group_table(t.by_followed, "bell followed", t.blow_ms, true);
    s += "<h2>Every blow through the touch</h2>\n<p>Handstrokes filled, backstrokes open.</p>\n" + every_blow(t);
    if (!t.pulls.empty()) {
        s += "<h2>Speed and handstroke gap, pull by pull</h2>\n<p>Your whole pull:</p>\n" +
             pull_chart(t, "whole-pull", "Whole pull, pull by pull", 0.001, 2, " s",
                        [](const PullFigures& p) { return p.whole_pull_ms; });
        s += "<p>Your handstroke gap:</p>\n" +
             pull_chart(t, "handstroke-gap", "Handstroke gap, pull by pull", 1, 0, " ms",
                        [](const PullFigures& p) { return p.back_to_hand_ms - p.hand_to_back_ms; });
    }
    return s + explanation(t) + "</body></html>\n";
}

// A band's file has a last column more: the bell (each bell counts its own blows).
std::string striking_csv(const TouchStriking& t) {
    const bool band = !t.band_bells.empty();
    std::string s = "blow,stroke,timed,judged,signal_s,sounded_s,belonged_s,error_ms,error_pct,key_delay_ms,row,place,"
                    "bell_followed" + std::string(band ? ",bell" : "") + "\r\n";
    for (const BlowFigures& b : t.blow_list) {
        const char* judged = b.spacing == Spacing::Spurious ? "spurious" : b.spacing == Spacing::Missed ? "after a missed blow"
                             : b.spacing == Spacing::Paused ? "after a pause" : "";
        s += str(b.blow) + "," + (b.handstroke ? "hand" : "back") + "," + (b.timed ? "yes" : "no") + "," + judged + "," +
             num(static_cast<double>(b.event_us) / 1e6, 6) + "," + num(static_cast<double>(b.due_us) / 1e6, 6) + ",";
        if (b.timed)
            s += num(static_cast<double>(b.ideal_us) / 1e6, 6) + "," + num(b.error_ms, 1) + "," + num(b.error_pct, 1);
        else
            s += ",,";
        s += "," + str(b.delay_ms) + ",";
        if (b.place > 0) s += str(b.row) + "," + str(b.place) + "," + str(b.bell_before);
        else s += ",,";
        if (band) s += "," + str(b.bell);
        s += "\r\n";
    }
    return s;
}

}  // namespace qn
