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

namespace {

#ifdef _WIN32
const char* const kFilesNote =
    "Files: the settings file, bespoke.ini, logs\\ and composition_library\\ are in\n"
    "the current folder.";
#else
const char* const kFilesNote =
    "Files: the settings file and bespoke.ini are in $XDG_CONFIG_HOME/quennick\n"
    "(~/.config/quennick), run logs in $XDG_STATE_HOME/quennick/logs\n"
    "(~/.local/state/quennick/logs). A settings file in the current folder keeps\n"
    "them all there, as --folder=. does. Touch files are looked for by the name\n"
    "given, in composition_library/ beside the settings file, then in\n"
    "/usr/share/quennick/composition_library. See man quennick.";
#endif

}  // namespace

int main(int argc, char** argv) {
    qn::ProgramOptions options;
    const qn::CommandLine line =
        qn::parse_program_command_line(qn::platform::program_arguments(argc, argv), options, kFilesNote);
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
    qn::Program* ctx = qn::make_program(plat).release();
    int code = qn::quennick_main(*ctx, options);
    ctx->ending->exit(code);
}
