// Files and folders, standard error, local time, and where the system keeps
// a user's files.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace qn::platform {

class OutFile {
public:
    virtual ~OutFile() = default;
    virtual Result<void> write(std::string_view bytes) = 0;
    virtual Result<void> flush() = 0;  // to the OS
    virtual Result<void> sync() = 0;   // to the disk
    virtual Result<void> close() = 0;
};

struct LocalDateTime {
    std::string short_date;  // the user's short date format, e.g. 08/12/2026
    std::string long_time;   // the user's long time format, e.g. 04:45:00
};

// Where the system keeps a user's files, as the environment has them; the
// program weighs them (config/folders.h). Neither xdg nor windows: the
// files stay in the current folder.
struct UserDirs {
    bool xdg = false;          // settings and logs go under the XDG base folders
    std::string config_home;   // $XDG_CONFIG_HOME as set (empty: unset)
    std::string state_home;    // $XDG_STATE_HOME as set
    std::string home;          // $HOME, else the user's home folder in the password database
    bool windows = false;      // settings under the roaming application data, logs under Documents
    std::string app_data;      // the known folder RoamingAppData, parts split by backslashes (empty: not found)
    std::string documents;     // the known folder Documents
    std::string problem;       // why one of them is missing: the failing call and its error
    std::string program_dir;   // the running program's folder (empty: unknown)
};

class Files {
public:
    virtual ~Files() = default;

    // Paths use '/' between parts (or backslashes in Windows paths);
    // backends turn them into native ones.
    virtual Result<void> make_dir(const std::string& path) = 0;  // existing: ok
    virtual bool exists(const std::string& path) = 0;
    virtual Result<std::unique_ptr<OutFile>> create(const std::string& path) = 0;  // truncates
    // A file for people to read: the program's text (code page 1252) is
    // written in the system's own encoding (Linux: UTF-8).
    virtual Result<std::unique_ptr<OutFile>> create_text(const std::string& path) { return create(path); }
    virtual Result<std::string> read_all(const std::string& path) = 0;
    // Atomically puts from in place of to (an existing to is replaced).
    virtual Result<void> replace(const std::string& from, const std::string& to) = 0;
    virtual Result<void> remove(const std::string& path) = 0;

    // The process's standard error goes to the end of this file from now on.
    virtual Result<void> redirect_stderr(const std::string& path) = 0;

    virtual LocalDateTime now() = 0;
    virtual UserDirs user_dirs() { return {}; }
};

}  // namespace qn::platform
