// The whole program, from start to quit, on the fake platform services:
// run() reads the command line as the program does, types q once the fake
// clock has passed the given time, and keeps the exit code; log() is the run log the program itself wrote.
#pragma once

#include <string>
#include <vector>

#include "fakes/fake_platform.h"
#include "service/command_line.h"
#include "service/program.h"

namespace qn::test {

struct ProgramRun {
    Harness h;
    int exit_code = -1;

    std::string log() {
        auto it = h.fp.files.files.find(h.program().run_log.name() + ".log");
        return it == h.fp.files.files.end() ? std::string() : it->second;
    }

    void run(std::vector<std::string> args, std::int64_t quit_at_us) {
        auto quit_when_late = [this, quit_at_us] {
            if (h.fp.clock.now_us() > quit_at_us && h.fp.console.keys.empty()) h.fp.console.type("q");
        };
        h.fp.threads.on_sleep = [quit_when_late](std::int32_t) { quit_when_late(); };
        h.fp.wait.on_wait = [quit_when_late, theirs = h.fp.wait.on_wait](const FakeWait::Call& w) {
            if (theirs) theirs(w);
            quit_when_late();
        };
        ProgramOptions options;
        const CommandLine line = parse_program_command_line(args, options);
        if (!line.run) {
            exit_code = line.exit_code;
            return;
        }
        try {
            (void)quennick_main(h.program(), options);
        } catch (const ProgramExit& e) {
            exit_code = e.code;
        }
    }
};

}  // namespace qn::test
