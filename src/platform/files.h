// Files and folders in the current directory, standard error, local time.
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

class Files {
public:
    virtual ~Files() = default;

    // Paths use '/' between parts; backends turn them into native ones.
    virtual Result<void> make_dir(const std::string& path) = 0;  // existing: ok
    virtual bool exists(const std::string& path) = 0;
    virtual Result<std::unique_ptr<OutFile>> create(const std::string& path) = 0;  // truncates
    virtual Result<std::string> read_all(const std::string& path) = 0;
    // Atomically puts from in place of to (an existing to is replaced).
    virtual Result<void> replace(const std::string& from, const std::string& to) = 0;
    virtual Result<void> remove(const std::string& path) = 0;

    // The process's standard error goes to the end of this file from now on.
    virtual Result<void> redirect_stderr(const std::string& path) = 0;

    virtual LocalDateTime now() = 0;
};

}  // namespace qn::platform
