// quennick: the program a ringer runs.
#include <cstdio>
#include <string>
#include <vector>

#include "service/program.h"
#include "service/command_line.h"
#include "service/run_end.h"
#ifdef QN_DESKTOP
#include "platform/posix/desktop/desktop.h"
#endif

int main(int argc, char** argv) {
    qn::ProgramOptions options;
    const qn::CommandLine line =
        qn::parse_program_command_line(qn::platform::program_arguments(argc, argv), options,
                                       qn::platform::native_files_note());
    if (!line.run) {
        std::fputs(line.text.c_str(), line.exit_code == 0 ? stdout : stderr);
        return line.exit_code;
    }
    qn::platform::Platform& plat = qn::platform::native_platform();
#ifdef QN_DESKTOP
    // Keys and windows of the session's desktop: X11, Wayland or none.
    qn::platform::posix::install_desktop(plat, qn::platform::posix::DesktopEnv::from_environment());
#endif
    // The program state lives until the process ends: the serial thread may
    // read it up to the last moment.
    qn::Program* program = qn::make_program(plat).release();
    int code = qn::quennick_main(*program, options);
    program->ending->exit(code);
}
