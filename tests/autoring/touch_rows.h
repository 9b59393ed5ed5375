// Rows for the automatic-ringing tests, made from explicit changes ("x" the
// cross, otherwise every place made, e.g. "16" on six bells).
#pragma once

#include <string>
#include <vector>

namespace qn::test {

inline std::string change_row(const std::string& row, const std::string& places) {
    std::string next = row;
    for (std::size_t p = 0; p < row.size();) {
        const char sym = "1234567890ETABCD"[p];
        if (places != "x" && places.find(sym) != std::string::npos) {
            ++p;
        } else {
            if (p + 1 < row.size()) std::swap(next[p], next[p + 1]);
            p += 2;
        }
    }
    return next;
}

// Rounds, then one row for every change.
inline std::vector<std::string> ring(const std::string& start, const std::vector<std::string>& changes) {
    std::vector<std::string> rows{start};
    for (const auto& ch : changes) rows.push_back(change_row(rows.back(), ch));
    return rows;
}

// A lead of Plain Bob on an even number of bells (cross, then the back bell's
// place with the treble, the treble's half lead, then lead_end).
inline std::vector<std::string> plain_bob_lead(int stage, const std::string& lead_end) {
    const std::string back = std::string("1") + "1234567890ET"[stage - 1];
    std::vector<std::string> lead;
    for (int i = 0; i < stage; ++i) {
        lead.push_back("x");
        lead.push_back(back);
    }
    lead.back() = lead_end;
    return lead;
}

// One lead a letter: p plain ("12"), b bob ("14"), s single ("1234").
inline std::vector<std::string> plain_bob_touch(int stage, const std::string& calling) {
    std::vector<std::string> changes;
    for (char call : calling) {
        auto lead = plain_bob_lead(stage, call == 'b' ? "14" : call == 's' ? "1234" : "12");
        changes.insert(changes.end(), lead.begin(), lead.end());
    }
    return changes;
}

inline std::string lines(const std::vector<std::string>& rows, const std::string& eol = "\n") {
    std::string text;
    for (const auto& r : rows) text += r + eol;
    return text;
}

}  // namespace qn::test
