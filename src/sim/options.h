// quennick-sim's command line.
#pragma once

#include <string>
#include <vector>

#include "platform/sim/bell.h"

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
    bool help = false;
    std::int64_t tower = 0;       // ring into this tower over the link (0: keys as usual)
    std::string server = "https://ringingroom.com";  // the tower's web site
    std::vector<std::string> program_args;  // for the program itself ("/A")
};

// False with a message for a bad command line.
bool parse_options(const std::vector<std::string>& args, SimOptions& out, std::string& error);
std::string help_text();

}  // namespace qn::sim
