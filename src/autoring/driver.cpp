#include "autoring/driver.h"

#include <string>

#include "console/crt.h"
#include "core/context.h"
#include "core/text.h"
#include "core/timing.h"
#include "keyout/menus.h"
#include "keyout/sendtext.h"

namespace qn {

namespace {

constexpr std::int32_t START_PAUSE_MS = 4000;

bool is_call_key(char ch) {
    switch (ch) {
        case 'b': case 'n': case 'B': case 'N': case 'g': case 'h': case 'l': case 't':
            return true;
        default:
            return false;
    }
}

bool is_sent_bell_symbol(char ch) { return (ch >= '0' && ch <= '9') || ch == 'E' || ch == 'T'; }

// The driver looks a row or two past the end of the touch; there, and past
// the table, there are no bells and no calls.
const std::string& row_at(const AutoringState& a, long i) {
    static const std::string empty;
    return decltype(a.ROW)::in_range(i) ? a.ROW[i] : empty;
}

char call_at(const AutoringState& a, long i) { return decltype(a.PNCALL)::in_range(i) ? a.PNCALL[i] : ' '; }

// A bell the driver rings has a mark at its number in AUTOKEYPRESSDATA. A
// character that is no bell symbol, or a bell beyond the marks (the mask of a
// non-Ringing-Room target has only N positions), is a bell it does not ring.
bool rung_by_driver(const AutoringState& a, char symbol) {
    const std::int32_t bell = CONVBELLSYMBOLTOINTEGER(symbol);
    if (bell < 1 || static_cast<std::size_t>(bell) > a.AUTOKEYPRESSDATA.size()) return false;
    return a.AUTOKEYPRESSDATA[static_cast<std::size_t>(bell) - 1] != ' ';
}

// The first start after a set-up: the first pull is loaded here and the
// start key sent once more before the clock runs.
char first_start(Context& c) {
    AutoringState& a = c.autoring;
    if (!GETNEXTDOUBLEROW(c)) {
        const std::string line = "Length of rows does not match number of bells - turning off autokeypress";
        c.screen.writeln(line);
        c.FOOERROR.writeln(line);
        return 'A';
    }
    a.RINGBELLFIRSTTIME = false;
    EXPORTKEY(c, 'l');
    SLEEP(c, START_PAUSE_MS);
    a.AUTOKEYTIMER = MYELAPSEDMILLISECS(c);
    return '\0';
}

// One beat of the pull: a stroke, or the handstroke gap that loads the next.
char beat(Context& c) {
    AutoringState& a = c.autoring;
    a.AUTOKEYTIMER += a.AUTOKEYTIMERINTERVAL;
    a.AUTOKEYCOUNT += 1;
    if (a.AUTOKEYCOUNT <= 2 * a.AUTOKEYBELLS) {
        if (a.AUTOKEYCOUNT == a.AUTOKEYBELLS) HALFDOUBLEROW(c);
        const auto pos = static_cast<std::size_t>(a.AUTOKEYCOUNT);
        if (pos >= 1 && a.DBLROWAUTOPRESSDATA.size() >= pos && a.DBLROWAUTOPRESSDATA[pos - 1] != ' ')
            EXPORTKEY(c, a.DBLROWAUTOPRESSDATA[pos - 1]);
        return '\0';
    }
    a.AUTOKEYCOUNT = 0;
    return GETNEXTDOUBLEROW(c) ? '\0' : 'A';
}

}  // namespace

char autoring_driver_step(Context& c) {
    AutoringState& a = c.autoring;
    if (!c.keyout.WINDOWFOCUS) return '\0';
    if (a.ROWN >= a.ROWNUM + 3) return 'A';
    if (!a.AUTOKEYPRESS) return '\0';
    if (a.RINGBELLFIRSTTIME && first_start(c) == 'A') return 'A';
    const std::int64_t now = MYELAPSEDMILLISECS(c);
    if (a.AUTOKEYTIMER == 0) a.AUTOKEYTIMER = now;
    if (now > a.AUTOKEYTIMER + a.AUTOKEYTIMERINTERVAL) return beat(c);
    return '\0';
}

std::int64_t next_beat_due(const Context& c) {
    const AutoringState& a = c.autoring;
    if (!a.AUTOKEYPRESS || a.RINGBELLFIRSTTIME || a.AUTOKEYTIMER == 0 || !c.keyout.WINDOWFOCUS) return -1;
    // The step rings once the millisecond clock is past the beat's time.
    return (a.AUTOKEYTIMER + a.AUTOKEYTIMERINTERVAL + 1) * 1000;
}

bool GETNEXTDOUBLEROW(Context& c) {
    AutoringState& a = c.autoring;
    std::string pull = row_at(a, a.ROWN) + row_at(a, static_cast<long>(a.ROWN) + 1);
    if (static_cast<std::int64_t>(pull.size()) != 2 * static_cast<std::int64_t>(a.AUTOKEYBELLS)) {
        a.DBLROWAUTOPRESSDATA.clear();
        return false;
    }
    for (char& ch : pull)
        if (!rung_by_driver(a, ch)) ch = ' ';
    a.DBLROWAUTOPRESSDATA = pull;
    const char hand_call = call_at(a, static_cast<long>(a.ROWN) + 2);
    const char back_call = call_at(a, static_cast<long>(a.ROWN) + 3);
    c.FOOERROR.writeln(pull + " calls (" + hand_call + ") (" + back_call + ")");
    c.FOOERROR.flush();
    if (is_call_key(hand_call)) {
        c.FOOERROR.write("rown+2" + str(a.ROWN + 2) + " ");
        EXPORTKEY(c, hand_call);
    }
    a.ROWN += 2;
    return true;
}

void HALFDOUBLEROW(Context& c) {
    AutoringState& a = c.autoring;
    const char call = call_at(a, static_cast<long>(a.ROWN) + 1);
    if (!is_call_key(call)) return;
    c.FOOERROR.write("half rown+1" + str(a.ROWN + 1) + " ");
    EXPORTKEY(c, call);
}

void EXPORTKEY(Context& c, char ch) {
    if (is_sent_bell_symbol(ch)) c.FOOERROR.writeln(std::string("sent=") + ch);
    // Ringing Room takes the eleventh and twelfth bells on "-" and "=".
    const std::int32_t target = c.keyout.TARGETPROGRAMINDEX;
    if (target >= 1 && target <= 3) {
        if (ch == 'E') ch = '-';
        else if (ch == 'T') ch = '=';
    }
    SENDTEXT(c, std::string(1, ch));
}

}  // namespace qn
