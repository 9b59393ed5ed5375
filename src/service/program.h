// Program entry, the service loop that drives every subsystem, and shutdown.
// This is the top of the program: it may call any subsystem; none calls it.
#pragma once

#include <memory>
#include <string>

namespace qn {

struct Context;
namespace platform {
struct Platform;
}

// A program on the given services, its parts wired, not yet started.
// Contexts are large (about 1 MB): they are made on the heap.
std::unique_ptr<Context> make_context(platform::Platform& p);

// The program's command line (service/command_line.h reads it).
struct ProgramOptions {
    bool easy_mode = true;  // -A (on Windows /A): the fuller screens
    std::string folder;     // --folder: every file there; empty: the usual place
};

// Reads a settings file (config/configfile.h); one that can be used selects
// its target program, and the run log gets the calibration and the other
// programs' options.
bool load_settings(Context& c, const std::string& path);

// Start-up, service until quit, shutdown; returns the exit code.
int quennick_main(Context& c, const ProgramOptions& options);
void startup(Context& c, const ProgramOptions& options);
void shutdown(Context& c);

}  // namespace qn
