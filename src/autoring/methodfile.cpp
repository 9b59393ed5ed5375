#include "autoring/methodfile.h"

#include <string_view>
#include <vector>

#include "core/context.h"
#include "core/text.h"

namespace qn {

namespace {

// A row holds at most 16 bells; the file's lines are cut to that.
constexpr std::size_t MAXROWCHARS = 16;
// Rows the tables hold for the file itself: everything up to row 6000 less
// the four rounds rows added after the last one.
constexpr std::int32_t MAXFILEROWS = MAXROWSALLOWED - ROUNDSATEND;
// Fewer than three bells cannot make a touch (with a cover that is at least
// four); more than twelve can never be rung.
constexpr std::size_t MINWORKBELLS = 3;
constexpr std::size_t MAXWORKBELLS = MAXAUTOBELLS;

const std::string kSingleSpace = " ";

// The file's lines: CR LF or LF ends a line; text after the last line end is
// one more line, a line end at the very end is not.
std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        start = next;
    }
    return lines;
}

std::string as_row(std::string_view line) { return std::string(line.substr(0, MAXROWCHARS)); }

// A lead length or similar written above the rows. Rounds on three ("123")
// would read as a number too; it is taken as the row it is.
bool is_number_line(std::string_view line) {
    std::int32_t v = 0;
    return line.size() < 4 && !line.empty() && line != "123" && parse_int32(line, &v);
}

// Place notation of the change from prev to row: the places where both
// rows have the same bell.
std::string places_made(const std::string& prev, const std::string& row) {
    std::string pn;
    for (std::size_t p = 1; p <= row.size() && p <= prev.size(); ++p)
        if (row[p - 1] == prev[p - 1]) pn.push_back(BELLSYMBOL(static_cast<std::int32_t>(p)));
    return pn.empty() ? "x" : pn;
}

// The notation beyond the table reads as empty, as the rows after ROWNUM do.
const std::string& pn_or_empty(const AutoringState& a, long i) {
    static const std::string empty;
    return decltype(a.PN)::in_range(i) ? a.PN[i] : empty;
}

void refuse(Context& c, const std::string& why) {
    const std::string line = "This composition is unsuitable - " + why;
    c.FOOERROR.writeln(line);
    c.screen.writeln(line);
}

void clear_tables(AutoringState& a) {
    a.ROW.fill(std::string());
    a.PN.fill(std::string());
    a.PNCALL.fill(' ');
    a.PNMATCH.fill(false);
    a.SYMMETRY.fill(0);
    a.SYMMETRYMAX.fill(0);
    a.PNLIST.fill(std::string());
    a.PNCALLLIST.fill(' ');
    a.THEMOD.fill(0);
    a.PNLISTNUM = 0;
    a.MATCHPATTERNS = 0;
    a.NUMBEROFP = 0;
    a.ROWNUM = 0;
    a.BASELEN = 0;
    a.NUMWORKBELLS = 0;
}

// ---- steps of the block analysis -------------------------------------------

void log_symmetry_radii(Context& c) {
    AutoringState& a = c.autoring;
    for (std::int32_t i = 1; i <= a.ROWNUM; ++i) {
        std::int32_t j = 1;
        while (i - j > 0 && i + j < a.ROWNUM && a.PN[i - j] == a.PN[i + j]) ++j;
        a.SYMMETRY[i] = j;
        c.FOOERROR.writeln(str(i) + " " + str(j));
    }
}

void mark_symmetry_peaks(Context& c) {
    AutoringState& a = c.autoring;
    std::int32_t minsym = 32768;
    for (std::int32_t i = 2; i <= a.ROWNUM - 1; ++i) {
        if (a.SYMMETRY[i - 1] < a.SYMMETRY[i] && a.SYMMETRY[i + 1] < a.SYMMETRY[i]) {
            a.SYMMETRYMAX[i] = a.SYMMETRY[i];
            c.FOOERROR.writeln(str(i) + " " + str(a.SYMMETRYMAX[i]));
            if (a.SYMMETRYMAX[i] < minsym) {
                minsym = a.SYMMETRYMAX[i];
                c.FOOERROR.writeln("minsym i=" + str(i) + " value=" + str(minsym));
            }
        } else {
            a.SYMMETRYMAX[i] = 0;
        }
    }
}

// Half the block is the widest gap between strong symmetry points, looking
// back from the end; the first N rows are left out.
std::int32_t widest_peak_gap(Context& c) {
    AutoringState& a = c.autoring;
    const std::int32_t n = a.AUTOKEYBELLS;
    std::int32_t lastmax = a.ROWNUM - n;
    std::int32_t biggest = 0;
    for (std::int32_t i = a.ROWNUM - 1; i >= n; --i) {
        if (!decltype(a.SYMMETRYMAX)::in_range(i) || a.SYMMETRYMAX[i] <= 2) continue;
        const std::int32_t dist = lastmax - i;
        lastmax = i;
        if (biggest + 4 < i && dist > biggest) biggest = dist;
        c.FOOERROR.writeln("Biggest=" + str(biggest) + " " + str(dist));
    }
    return biggest;
}

bool listed(const AutoringState& a, const std::string& pn) {
    for (std::int32_t k = 1; k <= a.PNLISTNUM; ++k)
        if (a.PNLIST[k] == pn) return true;
    return false;
}

bool position_listed(const AutoringState& a, std::int32_t mod) {
    for (std::int32_t k = 1; k <= a.MATCHPATTERNS; ++k)
        if (a.THEMOD[k] == mod) return true;
    return false;
}

bool add_to_pnlist(Context& c, const std::string& pn) {
    AutoringState& a = c.autoring;
    if (a.PNLISTNUM >= PNLISTLENGTH) {
        refuse(c, "more than " + str(PNLISTLENGTH) + " kinds of change at call positions");
        return false;
    }
    a.PNLIST[++a.PNLISTNUM] = pn;
    return true;
}

// One row whose notation differs from the block before: where it is in the
// block, and which notations are involved. False when a table is full.
bool note_difference(Context& c, std::int32_t i) {
    AutoringState& a = c.autoring;
    const std::int32_t mod = i % a.BASELEN;
    const std::string& now = a.PN[i];
    const std::string& before = a.PN[i - a.BASELEN];
    c.FOOERROR.writeln("seekingpatt\t" + str(i) + "\t" + now + "\t" + before + "\t" + str(mod));
    if (a.PNLISTNUM == 0) {
        a.PNLIST[1] = now;
        a.PNLISTNUM = 1;
        a.THEMOD[1] = mod;
        a.MATCHPATTERNS = 1;
    }
    if (!position_listed(a, mod)) {
        if (a.MATCHPATTERNS >= MAXTHEMOD) {
            refuse(c, "differences at more than " + str(MAXTHEMOD) + " places in the block");
            return false;
        }
        a.THEMOD[++a.MATCHPATTERNS] = mod;
    }
    a.PNCALL[i] = 'P';
    if (!listed(a, now)) {
        if (!add_to_pnlist(c, now)) return false;
        if (!listed(a, before) && !add_to_pnlist(c, before)) return false;
    }
    return true;
}

char call_key_for(const std::string& pn, std::int32_t w) {
    const std::string bob_at_back = std::string("1") + BELLSYMBOL(w - 2);
    const std::string single_at_back = bob_at_back + BELLSYMBOL(w - 1) + BELLSYMBOL(w);
    char key = 'P';
    if (pn == "14") key = 'b';
    if (pn == "1234") key = 'n';
    if (pn == bob_at_back) key = 'B';
    if (pn == single_at_back) key = 'N';
    return key;
}

}  // namespace

// ---- the loader ------------------------------------------------------------

char BELLSYMBOL(std::int32_t place) {
    static constexpr char kSymbols[] = "1234567890ETABCD";
    if (place < 1 || place > 16) return ' ';
    return kSymbols[place - 1];
}

bool LOADFILEDATA(Context& c) {
    AutoringState& a = c.autoring;
    clear_tables(a);
    const std::string text = std::move(a.FMETHOD);  // the file is read to its end and closed
    a.FMETHOD.clear();
    const std::vector<std::string_view> lines = split_lines(text);

    std::size_t next = 0;
    auto read_line_of_file = [&]() -> std::string {
        return next < lines.size() ? as_row(lines[next++]) : std::string();
    };
    std::string first = read_line_of_file();
    if (is_number_line(first)) first = read_line_of_file();

    const std::size_t file_rows = 1 + (lines.size() - std::min(next, lines.size()));
    if (file_rows > static_cast<std::size_t>(MAXFILEROWS)) {
        refuse(c, "more than " + str(MAXFILEROWS) + " rows");
        return false;
    }
    if (first.size() < MINWORKBELLS) {
        refuse(c, "rows of fewer than " + str(MINWORKBELLS) + " bells");
        return false;
    }
    if (first.size() > MAXWORKBELLS) {
        refuse(c, "rows of more than " + str(MAXWORKBELLS) + " bells cannot be rung");
        return false;
    }

    a.ROW[ROWLO] = first;
    a.NUMWORKBELLS = static_cast<std::int32_t>(first.size());
    a.PN[ROWLO] = kSingleSpace;
    for (std::int32_t r = ROWLO + 1; r <= 1; ++r) a.ROW[r] = first;
    for (std::int32_t r = 0; r <= 6; ++r) a.PN[r] = kSingleSpace;
    a.PNCALL[2] = 'g';

    std::int32_t r = 1;
    while (next < lines.size()) {
        ++r;
        a.ROW[r] = read_line_of_file();
        a.PN[r] = places_made(a.ROW[r - 1], a.ROW[r]);
    }
    for (std::int32_t k = 1; k <= ROUNDSATEND; ++k) {
        ++r;
        a.ROW[r] = a.ROW[r - 1];
        a.PN[r] = kSingleSpace;
    }
    a.PNCALL[r - ROUNDSATEND + 1] = 'h';
    a.PNCALL[r] = 't';
    a.ROWNUM = r;
    return true;
}

void DOSYMMETRY(Context& c) {
    log_symmetry_radii(c);
    mark_symmetry_peaks(c);
    c.autoring.BASELEN = 2 * widest_peak_gap(c);
}

bool SEEKREPEATINGPATTERNS(Context& c) {
    AutoringState& a = c.autoring;
    a.PNLISTNUM = 0;
    a.MATCHPATTERNS = 0;
    for (std::int32_t i = a.BASELEN + 1; i <= a.ROWNUM - ROUNDSATEND; ++i) {
        const bool match = a.PN[i] == a.PN[i - a.BASELEN];
        a.PNMATCH[i] = match;
        c.FOOERROR.writeln("seekpattern" + str(i) + "\t" + str(a.BASELEN) + "\t" + a.PN[i] + "\t" +
                           pn_or_empty(a, static_cast<long>(i) + a.BASELEN) + "\t" + bool_text(match));
        if (!match && !note_difference(c, i)) return false;
    }
    const bool ok = CHECKANDPRINTCALLTYPES(c);
    c.FOOERROR.writeln("check calltypes was ok=" + bool_text(ok));
    if (a.MATCHPATTERNS > 1) {
        const std::string line = "This composition is unsuitable - has varying blocklengths";
        c.FOOERROR.writeln(line);
        c.screen.writeln(line);
        for (std::int32_t k = 1; k <= a.MATCHPATTERNS; ++k) c.FOOERROR.writeln(str(a.THEMOD[k]));
        return false;
    }
    return ok;
}

bool CHECKANDPRINTCALLTYPES(Context& c) {
    AutoringState& a = c.autoring;
    c.FOOERROR.writeln("Signify call type with single character");
    a.NUMBEROFP = 0;
    for (std::int32_t k = 1; k <= a.PNLISTNUM; ++k) {
        const char key = call_key_for(a.PNLIST[k], a.NUMWORKBELLS);
        a.PNCALLLIST[k] = key;
        if (key == 'P') ++a.NUMBEROFP;
        const std::string line = "Call " + str(k) + "Placenotation=(" + a.PNLIST[k] + ") callname=" + key;
        c.FOOERROR.writeln(line);
        c.screen.writeln(line);
    }
    bool ok = true;
    if (a.NUMBEROFP > 1) {
        const std::string tail = str(a.NUMBEROFP - 1) + " call types unaccounted for!";
        c.FOOERROR.writeln("This composition is unsuitable - " + tail);
        c.screen.writeln("Composition is unsuitable - " + tail);
        ok = false;
    }
    c.FOOERROR.writeln("list of call locations");
    for (std::int32_t i = 1; i <= a.ROWNUM; ++i) {
        if (a.PNCALL[i] == 'P') {
            for (std::int32_t k = 1; k <= a.PNLISTNUM; ++k)
                if (a.PNLIST[k] == a.PN[i]) {
                    a.PNCALL[i] = a.PNCALLLIST[k];
                    break;
                }
        }
        c.FOOERROR.writeln(str(i) + "\t" + a.ROW[i] + "\t" + a.PN[i] + "\t" + a.PNCALL[i]);
    }
    return ok;
}

// The cover bell of an odd number of working bells: it takes the place after
// the last and makes that place in every change.
void PAD(Context& c, std::int32_t r) {
    AutoringState& a = c.autoring;
    c.FOOERROR.write("pad " + str(a.AUTOKEYBELLS) + " " + a.ROW[r] + "~");
    // A malformed row of sixteen bells has no place left for a cover; it
    // keeps its length and the driver stops at it.
    if (a.ROW[r].size() < MAXROWCHARS) {
        const char cover = BELLSYMBOL(static_cast<std::int32_t>(a.ROW[r].size()) + 1);
        a.ROW[r].push_back(cover);
        a.PN[r].push_back(cover);
    }
    c.FOOERROR.writeln(a.ROW[r] + " " + a.PN[r]);
}

bool LOADMETHODFILE(Context& c) {
    AutoringState& a = c.autoring;
    if (!LOADFILEDATA(c)) return false;
    DOSYMMETRY(c);
    if (!SEEKREPEATINGPATTERNS(c)) {
        c.FOOERROR.writeln("seekrepeatpatternsfailed");
        return false;
    }
    const auto l = static_cast<std::int32_t>(a.ROW[1].size());
    const bool odd = l % 2 == 1;
    if (l + 1 < a.AUTOKEYBELLS) a.AUTOKEYBELLS = odd ? l + 1 : l;
    if (odd)
        for (std::int32_t r = ROWLO; r <= a.ROWNUM; ++r) PAD(c, r);
    for (std::int32_t r = 1; r <= a.ROWNUM; ++r)
        c.FOOERROR.writeln(a.PN[r] + " " + a.ROW[r] + " " + a.PNCALL[r]);
    return true;
}

}  // namespace qn
