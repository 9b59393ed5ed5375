// Program entry, the service loop that drives every subsystem, and shutdown.
// This is the top of the program: it may call any subsystem; none calls it.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace qn {

struct Context;
namespace platform {
struct Platform;
}

// A program on the given services, its parts wired, not yet started.
// Contexts are large (about 1 MB): they are made on the heap.
std::unique_ptr<Context> make_context(platform::Platform& p);

// Start-up, service until quit, shutdown; returns the exit code.
int quennick_main(Context& c, const std::vector<std::string>& args);
void startup(Context& c, const std::vector<std::string>& args);
void shutdown(Context& c);

}  // namespace qn
