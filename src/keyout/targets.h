// The table of target programs' drivers (how an entry's window is found
// and its keys sent, or that it rings the tower), row for row with the
// stored entries (config/target_entries.h), so the targets are told apart
// by what they are, never by their numbers.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "config/target_entries.h"
#include "platform/windows.h"

namespace qn {

struct TargetProgram;
struct Settings;
class CurrentTarget;
class TargetWindow;
class TextSink;

// How an entry's keys reach its program.
enum class KeyRoute {
    FocusedWindow,  // typed into whatever window is in front (guarded or not)
    ProgramWindow,  // sent to the program's own window, found for each key
};

// The browser a Ringing Room entry finds its tab in.
enum class Browser { None, Firefox, Chrome };

struct TargetDriver {
    KeyRoute route;
    bool ringing_room;  // a Ringing Room entry: may ring a tower over the link
    Browser browser;
    // ProgramWindow: the process that must be running (none for a browser),
    // its name when it is not (on the screen, in the log), and, when its
    // window is missing, whether the run pauses or the key counts as sent.
    const char* exe;
    const char* absent_shown;
    const char* absent_logged;
    platform::WindowHandle (*find_window)(TargetWindow&);
    void (*send_key)(TargetWindow&, platform::WindowHandle, char);
    // On X11: a fragment of the program's title and the WM_CLASS classes of
    // the programs that show it (a part of the class, in lower case, or
    // the whole class). title nullptr: none.
    const char* toplevel_title;
    std::array<const char*, 2> toplevel_classes;
    bool whole_class;
};

// The entry's driver; an index outside the table gives Open's.
const TargetDriver& target_driver(std::int32_t index);
// How keys reach the entry selected.
const TargetDriver& target_driver(const CurrentTarget& target);

// Every entry as calibration sets it up for a bell of this many sensors.
void set_target_defaults(CurrentTarget& target, std::int32_t sensors);
// The entry a name selects; a name no entry has selects Open, and then (as
// for an index outside the table) no window is sought and the focus is not
// guarded.
std::uint8_t target_index_of(CurrentTarget& target, const std::string& name);
std::string target_name(CurrentTarget& target, std::uint8_t index);
// Selects the entry the name selects and takes its parameters, as the
// desktop allows them.
void load_target_parameters(CurrentTarget& target, platform::Windows& windows, const std::string& name);
void write_other_program_options(const CurrentTarget& target, const Settings& settings, TextSink& f);

}  // namespace qn
