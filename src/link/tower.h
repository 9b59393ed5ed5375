// The tower link in the program: which bell a key rings, the link's start
// and end with the service, rings and calls at their due time, and its line
// on the service screen.
#pragma once

#include <cstddef>
#include <string>

#include "core/colour.h"

namespace qn {

struct Context;
struct Settings;

// A Ringing Room target (entries 1-3) with a tower ID: rings go to the tower,
// not to a browser, and nothing waits for a window's focus.
bool tower_link_in_use(const Context& c);

// The bell a key rings, as Ringing Room's own keys do: "1"-"9", "0", "-",
// "=" are bells 1-12; "j" and "f" the ringer's two bells. 0: no bell.
int bell_for_key(const Settings& cfg, char key);

// The service begins: starts the link when one is set (asking the password
// of an account first).
void start_tower_link(Context& c);
// The target or the link's settings changed: once the service has begun,
// the link is started again to match (or stopped).
void restart_tower_link(Context& c);
// Leaves the tower and ends the link; safe to call when none runs.
void stop_tower_link(Context& c);

// The key of a sensing point at its due time: its bell, at the stroke the
// tower holds it at, to the tower. A ring the link cannot send now is lost.
void ring_key_over_link(Context& c, char key);
// A key of automatic ringing (bell symbol or call key). True when the link
// took it; false when keys are typed as before.
bool export_over_link(Context& c, char key);

// Once per pass of the service loop: the link's news into the run log;
// false when no link is in use (and no line is shown).
bool take_tower_link_news(Context& c);
// The link's line on the service screen, at most kLineColumns - 1 long
// but for a failure's reason, and its colour.
inline constexpr std::size_t kLineColumns = 80;
std::string tower_link_line(Context& c);
Colour tower_link_colour(Context& c);

// The target menu's questions for entries 1-3: the tower ID (empty: keys
// into the browser), the ringer's bells and an optional log-in.
void ask_tower_link(Context& c);
// The password of the stored account, asked at each start (shown as "*"):
// it is kept nowhere, and the token it buys lives only as long as the link.
std::string ask_tower_password(Context& c);

}  // namespace qn
