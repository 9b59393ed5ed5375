// The program as a ringer runs it, for the fault tests on Linux: a child
// process of this binary runs quennick_main on the real clock, threads,
// serial ports (a pty whose modem lines the shim plays), files and exit.
// Only what a Linux desktop cannot give a test stands in: the console (its
// screen is mirrored to a file, its keys come from a pipe), the keyboard
// out (each key sent is recorded), and the port list (ptys are never listed
// as serial ports, so the test's ports are added to it while their names
// exist, as an adapter is listed while it is plugged in).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "posix_test_util.h"

namespace qn::faulttest {

// The settings file's name, in the program's folder.
std::string settings_name();
// A settings file of the end-to-end suite's fixtures (signals_mode.ini,
// data_mode.ini), with key=value lines replaced; every key must be there.
std::string fixture(const std::string& name, const std::vector<std::pair<std::string, std::string>>& changes);

// CPU time (user + system) a process has used, in seconds; -1 when gone.
double cpu_seconds(pid_t pid);

// One run of the program in a folder of its own.
class ProgramRun {
public:
    ProgramRun();
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    const std::string& folder() const { return dir_.path(); }
    std::string file(const std::string& name) const { return dir_.file(name); }
    void write(const std::string& name, const std::string& text) const;
    std::string read(const std::string& name) const;  // "" when missing
    // A port: a pty pair whose program end is named by a link in the folder
    // (ttyQN0, ttyQN1, ... listed in that order). The bell's port has its
    // modem lines played by the shim; any other is a plain pty, whose driver
    // refuses the modem-line requests (as some virtual ports do).
    std::string add_port(bool bell = true);
    const std::string& port_name(std::size_t i) const { return links_.at(i); }
    int peer(std::size_t i) const { return ptys_.at(i)->master; }
    // Ends the far side of the pty: the program's end is hung up.
    void hang_up(std::size_t i);
    // Unplugs and plugs back the port's name (the device node of an adapter).
    void unplug(std::size_t i) const;
    void plug(std::size_t i) const;

    // The shim's timeline: entries "+us word" or "+us gone", in one append.
    void lines(const std::string& entries) const;
    // Strokes of a bell with two sensors on CTS: two 50 ms pulses 150 ms
    // apart each, interval_ms from one to the next, from lead_ms on.
    void ring_strokes(int strokes, int interval_ms, int lead_ms = 200) const;
    // Characters of the interface box, interval_ms apart, from lead_ms on;
    // written at their times (this call takes that long), on that port (-1: the
    // shim's).
    void ring_box(char ch, int strikes, int interval_ms, int lead_ms = 100, int port = -1) const;

    void start();
    pid_t pid() const { return pid_; }
    bool running();
    // Waits for the screen to show text; false after timeout_ms.
    bool wait_for(const std::string& text, int timeout_ms = 20000);
    std::string screen() const;
    void type(const std::string& keys) const;
    void end_keys();  // the keyboard ends: no key will come
    // The keys the program sent, as typed characters.
    std::string keys() const;
    // Waits for the end; the exit code, or -1 (then the process is killed).
    int wait_exit(int timeout_ms = 20000);
    // The run log of this run (logs/, the newest), CR LF made LF.
    std::string log() const;
    // What the program printed on its way out (the last screen among it).
    std::string out() const { return read("out.txt"); }

private:
    posixtest::TempDir dir_;
    std::vector<std::unique_ptr<posixtest::PtyPair>> ptys_;
    std::vector<std::string> links_;
    std::size_t bell_ = 0;  // the shim's port
    int keys_in_ = -1;  // the write end of the program's key pipe
    pid_t pid_ = -1;
    int status_ = -1;
    bool reaped_ = false;
};

}  // namespace qn::faulttest
