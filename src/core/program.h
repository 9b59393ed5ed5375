// Program entry, the main service loop and shutdown.
#pragma once

#include <string>
#include <vector>

namespace qn {

struct Context;

// Start-up, service until quit, shutdown; returns the exit code.
int quennick_main(Context& c, const std::vector<std::string>& args);
void startup(Context& c, const std::vector<std::string>& args);
void main_loop_pass(Context& c);
void shutdown(Context& c);

}  // namespace qn
