// The tower link's line on the service screen: under the menu, or under the
// big counter's digits.
#pragma once

namespace qn {

struct Context;

// Once per pass of the service loop: the link's news into the run log and
// its line drawn, when it changed or something else wrote over it. The
// screen's window, cursor and colour are left as they were.
void show_tower_link(Context& c);

}  // namespace qn
