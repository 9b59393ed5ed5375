// One simulated run: the program on the simulated bell, ringer and target,
// with real or virtual time, ended by the program's own exit.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "service/program.h"
#include "platform/sim/bell.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_desktop.h"
#include "platform/sim/sim_serial.h"
#include "platform/sim/sim_services.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/sim_time.h"
#include "platform/sim/sim_wait.h"
#include "sim/options.h"
#include "sim/ringer.h"
#include "sim/target.h"

namespace qn::sim {

struct SimEnvironment {
    platform::Console* terminal = nullptr;  // the person's terminal; null: nobody watches
    platform::Files* files = nullptr;       // null: the native files
    platform::Network* network = nullptr;   // null: the native network service
    // The program's exit returns to run() instead of ending the process
    // (tests and benchmarks).
    bool embedded = false;
    bool keep_stderr = false;               // standard error not into the run log
    bool scheduling = true;  // in real time, the threads ask the system for real-time scheduling
    // Requests to end; null: the process's own signals, except when embedded
    // (a test process keeps its own).
    platform::Ending* ending = nullptr;
    std::function<void(const std::string&)> print;  // the closing report; null: not printed
    // Virtual time only: run on the main thread at each of its waits and
    // clock reads (see VirtualTime::on_main_thread).
    std::function<void(std::int64_t now_us, bool waiting)> on_main_thread;
};

class SimRun {
public:
    SimRun(const SimOptions& options, SimEnvironment env);
    ~SimRun();
    SimRun(const SimRun&) = delete;
    SimRun& operator=(const SimRun&) = delete;

    // The program from start to exit; returns its exit code when embedded,
    // otherwise the process ends with it.
    int run();

    Program& program() { return *program_; }
    SimTarget& target() { return *target_; }
    // A band (--band): bell n's simulated bell and target, n from 1; the
    // ringer's own bell is the band's last.
    int band_size() const { return options_.band; }
    platform::sim::SimBell& band_bell(int n);
    SimTarget& band_target(int n);
    platform::sim::SimBell& bell() { return *bell_; }
    SimRinger& ringer() { return *ringer_; }
    platform::sim::SimTime& time() { return *time_; }
    platform::sim::SimConsole& console() { return *console_; }
    platform::sim::SimDesktop& desktop() { return *desktop_; }
    platform::sim::SimSerial& serial() { return *serial_; }
    // What the closing report says (also written to the run log).
    std::string report();
    std::string describe() const;

private:
    std::int64_t due(const platform::sim::Strike& s, bool hand) const;
    bool ringer_key(char key) const;
    std::int64_t band_due(int bell, const platform::sim::Strike& s, bool hand) const;
    void set_up_band();
    std::string band_report();
    void ring_over_link();
    void finish(int code);
    void teardown();

    SimOptions options_;
    SimEnvironment env_;
    std::unique_ptr<platform::sim::SimTime> time_;
    platform::sim::VirtualTime* vtime_ = nullptr;
    std::unique_ptr<platform::sim::VirtualClock> vclock_;
    std::unique_ptr<platform::sim::VirtualThreads> vthreads_;
    std::unique_ptr<platform::sim::SimBell> bell_;
    std::unique_ptr<platform::sim::SimSerial> serial_;
    std::unique_ptr<SimTarget> target_;
    std::vector<std::unique_ptr<platform::sim::SimBell>> band_bells_;  // bells 1 to N-1
    std::vector<std::unique_ptr<SimTarget>> band_targets_;             // bells 1 to N-1
    std::unique_ptr<platform::sim::KeySink> band_keys_;
    std::unique_ptr<platform::sim::SimDesktop> desktop_;
    std::unique_ptr<platform::sim::SimConsole> console_;
    std::unique_ptr<platform::sim::SimFiles> files_;
    std::unique_ptr<platform::sim::SimProcess> process_;
    std::unique_ptr<platform::sim::SimWait> wait_;
    platform::Platform plat_;
    std::unique_ptr<Program> program_;
    std::unique_ptr<SimRinger> ringer_;
    bool torn_down_ = false;
};

}  // namespace qn::sim
