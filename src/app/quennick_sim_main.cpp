// quennick-sim: Quennick on a simulated bell, ringer and ringing program.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "sim/options.h"
#include "sim/run.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    qn::sim::SimOptions options;
    std::string error;
    if (!qn::sim::parse_options(args, options, error)) {
        std::fprintf(stderr, "quennick-sim: %s (see quennick-sim --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(qn::sim::help_text().c_str(), stdout);
        return 0;
    }
    qn::sim::SimEnvironment env;
    env.terminal = qn::platform::native_platform().console;
    env.print = [](const std::string& text) {
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    };
    // Lives until the process ends: the serial thread may use it to the last.
    auto* run = new qn::sim::SimRun(options, env);
    return run->run();
}
