// quennick-sim: Quennick on a simulated bell, ringer and ringing program.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "service/command_line.h"
#include "sim/options.h"
#include "sim/run.h"

int main(int argc, char** argv) {
    std::vector<std::string> args = qn::platform::program_arguments(argc, argv);
    qn::sim::SimOptions options;
    const qn::CommandLine line = qn::sim::parse_command_line(args, options);
    if (!line.run) {
        std::fputs(line.text.c_str(), line.exit_code == 0 ? stdout : stderr);
        return line.exit_code;
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
