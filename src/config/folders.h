// Where the program keeps its files: the settings file and bespoke.ini, the
// run logs, and the touch files it looks in. A decision on what the system
// offers (platform::UserDirs), kept apart from the calls that find it out.
#pragma once

#include <string>
#include <vector>

#include "platform/files.h"

namespace qn {

struct Folders {
    std::string settings;  // "": the current folder
    std::string logs = "logs";
    // Looked in, in this order, for a touch file not found by the name given.
    std::vector<std::string> libraries{"composition_library"};
    std::string reason;    // why these, for the run log
};

// What was found before choosing: the settings file in the current folder,
// or beside the program.
struct SettingsFound {
    bool here = false;
    bool beside_program = false;
};

// folder: the --folder option ("" none). In order: --folder; the current
// folder when the settings file is there or the system keeps no user folders;
// on Windows the program's folder when the settings file is beside it (a
// program unpacked from the zip), else the roaming application data's
// Quennick for the settings and Documents\Quennick\logs for the logs; on
// Linux the XDG base folders, $XDG_CONFIG_HOME/quennick and
// $XDG_STATE_HOME/quennick/logs (~/.config and ~/.local/state when unset or
// not absolute, as the XDG base-directory rules have it); the current folder
// when there is no home (or no Windows user folder) either.
Folders choose_folders(const platform::UserDirs& dirs, const std::string& folder, SettingsFound found);

// name in folder ("" the current folder), joined with a backslash when the
// folder is written with them.
std::string in_folder(const std::string& folder, const std::string& name);
// Makes the folder and any missing parents (not a drive or a network
// share); the first failing call's error.
platform::Result<void> make_folders(platform::Files& fs, const std::string& path);

}  // namespace qn
