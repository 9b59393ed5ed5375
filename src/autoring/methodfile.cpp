#include "autoring/methodfile.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "core/text_sink.h"
#include "core/text.h"

namespace qn {

namespace {

// A row holds at most 16 bells; the file's lines are cut to that.
constexpr std::size_t kMaxRowChars = 16;
// Rows the tables hold for the file itself: everything up to row 6000 less
// the four rounds rows added after the last one.
constexpr std::int32_t kMaxFileRows = kMaxRows - kRoundsAtEnd;
// Fewer than three bells cannot make a touch (with a cover that is at least
// four); more than twelve can never be rung.
constexpr std::size_t kMinWorkingBells = 3;
constexpr std::size_t kMaxWorkingBells = kMaxAutoBells;

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

std::string as_row(std::string_view line) { return std::string(line.substr(0, kMaxRowChars)); }

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
        if (row[p - 1] == prev[p - 1]) pn.push_back(bell_symbol(static_cast<std::int32_t>(p)));
    return pn.empty() ? "x" : pn;
}

bool listed(const Touch& a, const std::string& pn) {
    return std::any_of(a.call_types.begin(), a.call_types.end(), [&](const CallType& t) { return t.notation == pn; });
}

bool position_listed(const Touch& a, std::int32_t mod) {
    return std::find(a.lead_heads.begin(), a.lead_heads.end(), mod) != a.lead_heads.end();
}

char call_key_for(const std::string& pn, std::int32_t w) {
    const std::string bob_at_back = std::string("1") + bell_symbol(w - 2);
    const std::string single_at_back = bob_at_back + bell_symbol(w - 1) + bell_symbol(w);
    char key = 'P';
    if (pn == "14") key = 'b';
    if (pn == "1234") key = 'n';
    if (pn == bob_at_back) key = 'B';
    if (pn == single_at_back) key = 'N';
    return key;
}

}  // namespace

void TouchReader::refuse(const std::string& why) {
    const std::string line = "This composition is unsuitable - " + why;
    log_.write_line(line);
    screen_.write_line(line);
}

// ---- steps of the block analysis -------------------------------------------

void TouchReader::log_symmetry_radii() {
    Touch& a = touch_;
    for (std::int32_t i = 1; i <= a.row_count; ++i) {
        std::int32_t j = 1;
        while (i - j > 0 && i + j < a.row_count && a.row(i - j).notation == a.row(i + j).notation) ++j;
        a.row(i).symmetry = j;
        log_.write_line(str(i) + " " + str(j));
    }
}

void TouchReader::mark_symmetry_peaks() {
    Touch& a = touch_;
    std::int32_t minsym = 32768;
    for (std::int32_t i = 2; i <= a.row_count - 1; ++i) {
        TouchRow& row = a.row(i);
        if (a.row(i - 1).symmetry < row.symmetry && a.row(i + 1).symmetry < row.symmetry) {
            row.symmetry_peak = row.symmetry;
            log_.write_line(str(i) + " " + str(row.symmetry_peak));
            if (row.symmetry_peak < minsym) {
                minsym = row.symmetry_peak;
                log_.write_line("minsym i=" + str(i) + " value=" + str(minsym));
            }
        } else {
            row.symmetry_peak = 0;
        }
    }
}

// Half the block is the widest gap between strong symmetry points, looking
// back from the end; the first N rows are left out.
std::int32_t TouchReader::widest_peak_gap() {
    Touch& a = touch_;
    const std::int32_t n = bells_;
    std::int32_t lastmax = a.row_count - n;
    std::int32_t biggest = 0;
    for (std::int32_t i = a.row_count - 1; i >= n; --i) {
        if (i < kFirstRow || a.row(i).symmetry_peak <= 2) continue;
        const std::int32_t dist = lastmax - i;
        lastmax = i;
        if (biggest + 4 < i && dist > biggest) biggest = dist;
        log_.write_line("Biggest=" + str(biggest) + " " + str(dist));
    }
    return biggest;
}

bool TouchReader::add_to_pnlist(const std::string& pn) {
    Touch& a = touch_;
    if (a.call_types.size() >= kMaxPlaceNotations) {
        refuse("more than " + str(kMaxPlaceNotations) + " kinds of change at call positions");
        return false;
    }
    a.call_types.push_back(CallType{pn});
    return true;
}

// One row whose notation differs from the block before: where it is in the
// block, and which notations are involved. False when a table is full.
bool TouchReader::note_difference(std::int32_t i) {
    Touch& a = touch_;
    const std::int32_t mod = i % a.base_length;
    const std::string& now = a.row(i).notation;
    const std::string& before = a.row(i - a.base_length).notation;
    log_.write_line("seekingpatt\t" + str(i) + "\t" + now + "\t" + before + "\t" + str(mod));
    if (a.call_types.empty()) {
        a.call_types = {CallType{now}};
        a.lead_heads = {mod};
    }
    if (!position_listed(a, mod)) {
        if (a.lead_heads.size() >= kMaxLeadHeads) {
            refuse("differences at more than " + str(kMaxLeadHeads) + " places in the block");
            return false;
        }
        a.lead_heads.push_back(mod);
    }
    a.row(i).call = 'P';
    if (!listed(a, now)) {
        if (!add_to_pnlist(now)) return false;
        if (!listed(a, before) && !add_to_pnlist(before)) return false;
    }
    return true;
}

// ---- the loader ------------------------------------------------------------

char bell_symbol(std::int32_t place) {
    static constexpr char kSymbols[] = "1234567890ETABCD";
    if (place < 1 || place > 16) return ' ';
    return kSymbols[place - 1];
}

// The file's first row rung as rounds before the touch. Only the first of
// them and the last two carry a blank notation: a cover bell is added to the
// others' empty one.
void TouchReader::add_rounds_before(const std::string& first) {
    touch_.rows.assign(Touch::rounds_before() + 1, TouchRow{first, ""});
    for (std::int32_t r : {kFirstRow, 0, 1}) touch_.row(r).notation = kSingleSpace;
}

bool TouchReader::load_file_data(const std::string& text) {
    Touch& a = touch_;
    a = Touch{};
    const std::vector<std::string_view> lines = split_lines(text);

    std::size_t next = 0;
    auto read_line_of_file = [&]() -> std::string {
        return next < lines.size() ? as_row(lines[next++]) : std::string();
    };
    std::string first = read_line_of_file();
    if (is_number_line(first)) first = read_line_of_file();

    const std::size_t file_rows = 1 + (lines.size() - std::min(next, lines.size()));
    if (file_rows > static_cast<std::size_t>(kMaxFileRows)) {
        refuse("more than " + str(kMaxFileRows) + " rows");
        return false;
    }
    if (first.size() < kMinWorkingBells) {
        refuse("rows of fewer than " + str(kMinWorkingBells) + " bells");
        return false;
    }
    if (first.size() > kMaxWorkingBells) {
        refuse("rows of more than " + str(kMaxWorkingBells) + " bells cannot be rung");
        return false;
    }

    a.working_bells = static_cast<std::int32_t>(first.size());
    add_rounds_before(first);
    while (next < lines.size()) {
        std::string bells = read_line_of_file();
        std::string notation = places_made(a.rows.back().bells, bells);
        a.rows.push_back(TouchRow{std::move(bells), std::move(notation)});
    }
    for (std::int32_t k = 1; k <= kRoundsAtEnd; ++k) a.rows.push_back(TouchRow{a.rows.back().bells, kSingleSpace});
    a.row_count = Touch::number_of(a.rows.size() - 1);
    // On a touch of one row the end's "h" takes the place of the "g".
    a.row(2).call = 'g';
    a.row(a.row_count - kRoundsAtEnd + 1).call = 'h';
    a.row(a.row_count).call = 't';
    return true;
}

void TouchReader::find_symmetry() {
    log_symmetry_radii();
    mark_symmetry_peaks();
    touch_.base_length = 2 * widest_peak_gap();
}

bool TouchReader::seek_repeating_patterns() {
    Touch& a = touch_;
    a.call_types.clear();
    a.lead_heads.clear();
    for (std::int32_t i = a.base_length + 1; i <= a.row_count - kRoundsAtEnd; ++i) {
        TouchRow& row = a.row(i);
        const bool match = row.notation == a.row(i - a.base_length).notation;
        row.notation_matched = match;
        log_.write_line("seekpattern" + str(i) + "\t" + str(a.base_length) + "\t" + row.notation + "\t" +
                           a.notation_at(static_cast<long>(i) + a.base_length) + "\t" + bool_text(match));
        if (!match && !note_difference(i)) return false;
    }
    const bool ok = check_call_types();
    log_.write_line("check calltypes was ok=" + bool_text(ok));
    if (a.lead_heads.size() > 1) {
        const std::string line = "This composition is unsuitable - has varying blocklengths";
        log_.write_line(line);
        screen_.write_line(line);
        for (std::int32_t mod : a.lead_heads) log_.write_line(str(mod));
        return false;
    }
    return ok;
}

bool TouchReader::check_call_types() {
    Touch& a = touch_;
    log_.write_line("Signify call type with single character");
    a.plain_count = 0;
    for (std::size_t k = 0; k < a.call_types.size(); ++k) {
        CallType& type = a.call_types[k];
        type.key = call_key_for(type.notation, a.working_bells);
        if (type.key == 'P') ++a.plain_count;
        const std::string line = "Call " + str(static_cast<std::int32_t>(k + 1)) + "Placenotation=(" + type.notation +
                                 ") callname=" + type.key;
        log_.write_line(line);
        screen_.write_line(line);
    }
    bool ok = true;
    if (a.plain_count > 1) {
        const std::string tail = str(a.plain_count - 1) + " call types unaccounted for!";
        log_.write_line("This composition is unsuitable - " + tail);
        screen_.write_line("Composition is unsuitable - " + tail);
        ok = false;
    }
    log_.write_line("list of call locations");
    for (std::int32_t i = 1; i <= a.row_count; ++i) {
        TouchRow& row = a.row(i);
        if (row.call == 'P') {
            const auto type = std::find_if(a.call_types.begin(), a.call_types.end(),
                                           [&](const CallType& t) { return t.notation == row.notation; });
            if (type != a.call_types.end()) row.call = type->key;
        }
        log_.write_line(str(i) + "\t" + row.bells + "\t" + row.notation + "\t" + row.call);
    }
    return ok;
}

// The cover bell of an odd number of working bells: it takes the place after
// the last and makes that place in every change.
void TouchReader::pad_row(TouchRow& row) {
    log_.write("pad " + str(bells_) + " " + row.bells + "~");
    // A malformed row of sixteen bells has no place left for a cover; it
    // keeps its length and the driver stops at it.
    if (row.bells.size() < kMaxRowChars) {
        const char cover = bell_symbol(static_cast<std::int32_t>(row.bells.size()) + 1);
        row.bells.push_back(cover);
        row.notation.push_back(cover);
    }
    log_.write_line(row.bells + " " + row.notation);
}

TouchReader::TouchReader(Touch& touch, TextSink& log, TextSink& screen, std::int32_t bells)
    : touch_(touch), log_(log), screen_(screen), bells_(bells) {}

bool TouchReader::load_method_file(const std::string& text) {
    Touch& a = touch_;
    if (!load_file_data(text)) return false;
    find_symmetry();
    if (!seek_repeating_patterns()) {
        log_.write_line("seekrepeatpatternsfailed");
        return false;
    }
    const auto l = static_cast<std::int32_t>(a.row(1).bells.size());
    const bool odd = l % 2 == 1;
    if (l + 1 < bells_) bells_ = odd ? l + 1 : l;
    if (odd) {
        // Counted without the cover, the rows would not fit the bells.
        if (bells_ == l) bells_ = l + 1;
        for (TouchRow& row : a.rows) pad_row(row);
        const std::string line = "Rows of " + str(l) + " bells are rung with a cover: ringing " + str(bells_) + " bells";
        log_.write_line(line);
        screen_.write_line(line);
    }
    for (std::int32_t r = 1; r <= a.row_count; ++r) {
        const TouchRow& row = a.row(r);
        log_.write_line(row.notation + " " + row.bells + " " + row.call);
    }
    return true;
}

}  // namespace qn
