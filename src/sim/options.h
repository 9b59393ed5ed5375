// quennick-sim's command line.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/bell.h"
#include "service/program.h"

namespace qn {
struct CommandLine;
}

namespace qn::sim {

struct SimOptions {
    platform::sim::BellConfig bell;
    platform::sim::ServicePlan plan;
    int idle_ports = 0;           // more ports with nothing connected
    bool interactive = false;     // the person answers; the ringer only rings
    int target = 1;               // the ringer's answer to the target menu
    char handbell = 'y';          // and to the handbell question
    bool virtual_time = false;
    std::int64_t clock_step_us = 1;  // virtual time: each read of the clock moves it on by this
    bool fresh = false;           // start without the settings file
    bool status_line = true;
    double quit_after_s = -1;     // Q after this long, whatever happens
    double idle_s = 2;            // service begins with the bell still this long
    std::int64_t tower = 0;       // ring into this tower over the link (0: keys as usual)
    std::string server = "https://ringingroom.com";  // the tower's web site
    std::string automatic_bells;  // a touch file: the ringer rings with the program's automatic bells
    bool take_delay = false;      // and after each touch takes the suggested delay with K
    ProgramOptions program;       // the program's own options (-A, --folder)
};

// The whole command line: run, or stop with --help, --version or an error
// (service/command_line.h).
CommandLine parse_command_line(const std::vector<std::string>& args, SimOptions& out);
// False with the message when the command line does not say to run.
bool parse_options(const std::vector<std::string>& args, SimOptions& out, std::string& error);

}  // namespace qn::sim
