// quennick-sim's command line.
#pragma once

#include <limits>
#include <map>
#include <string>
#include <vector>

#include "platform/sim/bell.h"
#include "service/program.h"

namespace qn {
struct CommandLine;
}

namespace qn::sim {

// One ringer of a simulated band: its bias and its bell's faults, each in
// place of the option every bell has (NaN: that option's).
struct BandRinger {
    static constexpr double kUnset = std::numeric_limits<double>::quiet_NaN();
    double late_ms = kUnset, hand_ms = kUnset, spread_ms = kUnset;
    double bounce = kUnset, missed = kUnset, spurious = kUnset;
};

// "late=20,spread=10,...": empty when it reads, with the ringer filled in.
std::string read_band_ringer(const std::string& fields, BandRinger* out);

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
    // A band: N bells on one interface box, each its own ringer (0: one bell).
    int band = 0;
    std::map<int, BandRinger> ringers;  // by bell, from 1
};

// The whole command line: run, or stop with --help, --version or an error
// (service/command_line.h).
CommandLine parse_command_line(const std::vector<std::string>& args, SimOptions& out);
// False with the message when the command line does not say to run.
bool parse_options(const std::vector<std::string>& args, SimOptions& out, std::string& error);

}  // namespace qn::sim
