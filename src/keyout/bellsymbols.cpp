#include "keyout/menus.h"

namespace qn {

// The change-ringing convention: 0 is the tenth bell, then E(leven), T(welve)
// and A..D for 13..16. Lower case is not a bell: "e" and "t" are other keys.
std::int32_t bell_number(char ch) {
    if (ch >= '1' && ch <= '9') return ch - '0';
    switch (ch) {
        case '0': return 10;
        case 'E': return 11;
        case 'T': return 12;
        case 'A': return 13;
        case 'B': return 14;
        case 'C': return 15;
        case 'D': return 16;
        default: return 0;
    }
}

}  // namespace qn
