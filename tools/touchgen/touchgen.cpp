#include "touchgen/touchgen.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <set>

namespace touchgen {

namespace {

constexpr const char* kSymbols = "1234567890ETABCD";

// "x", "-" and "." separate changes; "x" and "-" are themselves the cross.
struct Token {
    bool cross = false;
    std::string places;
};

struct Part {
    std::vector<Token> tokens;
    char mark = '\0';  // '&' palindrome, '+' as written, or none
};

std::vector<Part> tokenize(std::string_view pn) {
    std::vector<Part> parts(1);
    std::string pending;
    auto flush = [&] {
        if (!pending.empty()) parts.back().tokens.push_back({false, pending});
        pending.clear();
    };
    for (char ch : pn) {
        if (ch == 'x' || ch == 'X' || ch == '-') {
            flush();
            parts.back().tokens.push_back({true, {}});
        } else if (ch == '.') {
            flush();
        } else if (ch == ',') {
            flush();
            parts.emplace_back();
        } else if ((ch == '&' || ch == '+') && pending.empty() && parts.back().tokens.empty()) {
            parts.back().mark = ch;
        } else if (ch != ' ' && ch != '\t') {
            pending.push_back(ch);
        }
    }
    flush();
    return parts;
}

// a b c d -> a b c d c b a
std::vector<Token> palindrome(const std::vector<Token>& part) {
    std::vector<Token> out = part;
    for (std::size_t i = part.size(); i-- > 1;) out.push_back(part[i - 1]);
    return out;
}

bool to_change(const Token& t, int stage, Change* out, std::string* error) {
    out->clear();
    if (t.cross) {
        if (stage % 2 != 0) {
            *error = "cross change on an odd number of bells";
            return false;
        }
        return true;
    }
    std::set<int> given;
    for (char ch : t.places) {
        int p = place_of(ch);
        if (p == 0 || p > stage) {
            *error = std::string("place '") + ch + "' does not exist on " + std::to_string(stage) + " bells";
            return false;
        }
        given.insert(p);
    }
    // Bells that are not given a place swap in pairs; one left over at the
    // front or the back makes a place too.
    for (int p = 1; p <= stage;) {
        if (given.count(p)) {
            out->push_back(p);
            ++p;
        } else if (p + 1 <= stage && !given.count(p + 1)) {
            p += 2;
        } else if (p == 1 || p == stage) {
            out->push_back(p);
            ++p;
        } else {
            *error = "change '" + t.places + "' leaves the bell in place " + std::to_string(p) + " without a partner";
            return false;
        }
    }
    return true;
}

bool parse_stage(const std::string& s, int* stage) {
    int v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size() || v < kMinStage || v > kMaxStage) return false;
    *stage = v;
    return true;
}

bool parse_count(const std::string& s, int* v) {
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), *v);
    return ec == std::errc() && p == s.data() + s.size() && *v > 0;
}

const char* kUsage =
    "usage: touchgen [options] STAGE NOTATION\n"
    "       touchgen [options] STAGE --rounds ROWS\n"
    "Writes the rows of a plain course or a touch: rounds first, every row,\n"
    "ending in rounds.\n"
    "  NOTATION          place notation of one lead, e.g. x16x16x16,12 or 3,1.5.1.5.1\n"
    "  --calling CALLS   one letter a lead: p plain, b bob, s single; repeated until\n"
    "                    the touch comes round (default p: the plain course)\n"
    "  --bob PN          a bob, replacing the lead's last change(s) (default 14)\n"
    "  --single PN       a single (default 1234)\n"
    "  --rounds ROWS     no method: ROWS rows of rounds\n"
    "  --lead-length     write the lead length as the first line\n"
    "  --max-rows N      give up when not round after N rows (default 5000)\n"
    "  --allow-false     write a touch that repeats a row\n"
    "  --crlf            end lines with CR LF\n"
    "  --out FILE        write to FILE instead of standard output\n";

struct Options {
    TouchPlan plan;
    int rounds_rows = 0;
    bool lead_length = false;
    bool allow_false = false;
    bool crlf = false;
    std::string out_file;
};

// Fills opts from the arguments; an error text when they do not make sense.
std::string parse_args(const std::vector<std::string>& args, Options* opts) {
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* v) {
            if (i + 1 >= args.size()) return false;
            *v = args[++i];
            return true;
        };
        std::string v;
        if (a == "--calling" || a == "--bob" || a == "--single" || a == "--out" || a == "--rounds" ||
            a == "--max-rows") {
            if (!value(&v)) return a + " needs a value";
            if (a == "--calling") opts->plan.calling = v;
            else if (a == "--bob") opts->plan.bob = v;
            else if (a == "--single") opts->plan.single = v;
            else if (a == "--out") opts->out_file = v;
            else if (a == "--rounds" && !parse_count(v, &opts->rounds_rows)) return "bad row count " + v;
            else if (a == "--max-rows" && !parse_count(v, &opts->plan.max_rows)) return "bad row count " + v;
        } else if (a == "--lead-length") {
            opts->lead_length = true;
        } else if (a == "--allow-false") {
            opts->allow_false = true;
        } else if (a == "--crlf") {
            opts->crlf = true;
        } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            return "unknown option " + a;
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty()) return "no stage given";
    if (!parse_stage(positional[0], &opts->plan.stage))
        return "stage must be a number of bells from " + std::to_string(kMinStage) + " to " + std::to_string(kMaxStage);
    const std::size_t want = opts->rounds_rows > 0 ? 1 : 2;
    if (positional.size() != want) return opts->rounds_rows > 0 ? "--rounds takes no notation" : "no notation given";
    if (want == 2) opts->plan.notation = positional[1];
    return {};
}

}  // namespace

char symbol(int place) { return place >= 1 && place <= kMaxStage ? kSymbols[place - 1] : '?'; }

int place_of(char ch) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    const char* p = std::strchr(kSymbols, ch);
    return ch != '\0' && p ? static_cast<int>(p - kSymbols) + 1 : 0;
}

std::string rounds(int stage) { return std::string(kSymbols, static_cast<std::size_t>(stage)); }

bool parse_notation(std::string_view pn, int stage, std::vector<Change>* out, std::string* error) {
    out->clear();
    const std::vector<Part> parts = tokenize(pn);
    for (const Part& part : parts) {
        if (part.tokens.empty()) {
            *error = "empty part in notation '" + std::string(pn) + "'";
            return false;
        }
        // Parts either side of a comma are palindromes unless marked "+".
        const bool mirrored = part.mark == '&' || (part.mark != '+' && parts.size() > 1);
        for (const Token& t : mirrored ? palindrome(part.tokens) : part.tokens) {
            Change ch;
            if (!to_change(t, stage, &ch, error)) return false;
            out->push_back(std::move(ch));
        }
    }
    return true;
}

std::string apply(const std::string& row, const Change& change) {
    std::string next = row;
    const int n = static_cast<int>(row.size());
    for (int p = 1; p <= n;) {
        if (std::find(change.begin(), change.end(), p) != change.end()) {
            ++p;
        } else {
            if (p + 1 <= n) std::swap(next[static_cast<std::size_t>(p - 1)], next[static_cast<std::size_t>(p)]);
            p += 2;
        }
    }
    return next;
}

bool generate(const TouchPlan& plan, Touch* out, std::string* error) {
    std::vector<Change> lead, bob, single;
    if (!parse_notation(plan.notation, plan.stage, &lead, error)) return false;
    if (!parse_notation(plan.bob, plan.stage, &bob, error)) return false;
    if (!parse_notation(plan.single, plan.stage, &single, error)) return false;
    if (bob.size() > lead.size() || single.size() > lead.size()) {
        *error = "a call is longer than the lead";
        return false;
    }
    if (plan.calling.empty()) {
        *error = "empty calling";
        return false;
    }
    *out = Touch{};
    out->lead_length = static_cast<int>(lead.size());
    const std::string start = rounds(plan.stage);
    std::string row = start;
    out->rows.push_back(row);
    for (std::size_t k = 0;; ++k) {
        const char call = plan.calling[k % plan.calling.size()];
        const std::vector<Change>* replace = nullptr;
        if (call == 'b' || call == '-') replace = &bob;
        else if (call == 's') replace = &single;
        else if (call != 'p' && call != '.') {
            *error = std::string("unknown call '") + call + "' in the calling (p, b or s)";
            return false;
        }
        std::vector<Change> changes = lead;
        if (replace) std::copy(replace->begin(), replace->end(), changes.end() - static_cast<long>(replace->size()));
        for (const Change& ch : changes) {
            row = apply(row, ch);
            out->rows.push_back(row);
        }
        if (replace) out->call_rows.push_back(static_cast<int>(out->rows.size()) - 1);
        if (row == start) return true;
        if (static_cast<int>(out->rows.size()) - 1 > plan.max_rows) {
            *error = "does not come round within " + std::to_string(plan.max_rows) + " rows";
            return false;
        }
    }
}

std::string first_repeated_row(const std::vector<std::string>& rows) {
    std::set<std::string> seen;
    for (std::size_t i = 0; i + 1 < rows.size(); ++i)
        if (!seen.insert(rows[i]).second) return rows[i];
    return {};
}

std::string format(const std::vector<std::string>& rows, int lead_length, std::string_view eol) {
    std::string text;
    if (lead_length > 0) text += std::to_string(lead_length) + std::string(eol);
    for (const std::string& r : rows) text += r + std::string(eol);
    return text;
}

int run(const std::vector<std::string>& args, std::string* out, std::string* err) {
    if (std::find(args.begin(), args.end(), "--help") != args.end()) {
        *out = kUsage;
        return 0;
    }
    Options opts;
    if (std::string e = parse_args(args, &opts); !e.empty()) {
        *err = "touchgen: " + e + "\n" + kUsage;
        return 2;
    }
    Touch touch;
    if (opts.rounds_rows > 0) {
        touch.rows.assign(static_cast<std::size_t>(opts.rounds_rows), rounds(opts.plan.stage));
    } else {
        std::string e;
        if (!generate(opts.plan, &touch, &e)) {
            *err = "touchgen: " + e + "\n";
            return 1;
        }
        const std::string again = first_repeated_row(touch.rows);
        if (!again.empty() && !opts.allow_false) {
            *err = "touchgen: the touch is false: row " + again + " comes twice\n";
            return 1;
        }
    }
    const std::string text = format(touch.rows, opts.lead_length ? touch.lead_length : 0, opts.crlf ? "\r\n" : "\n");
    if (opts.out_file.empty()) {
        *out = text;
        return 0;
    }
    std::ofstream f(opts.out_file, std::ios::binary | std::ios::trunc);
    if (f) f << text;
    if (f) f.close();
    if (!f) {
        *err = "touchgen: cannot write " + opts.out_file + ": " + std::strerror(errno) + "\n";
        return 1;
    }
    return 0;
}

}  // namespace touchgen
