// quennick: the program a ringer runs.
#include <string>
#include <vector>

#include "console/console_ui.h"
#include "core/context.h"
#include "service/program.h"
#ifdef QN_DESKTOP
#include "platform/posix/desktop/desktop.h"
#endif

int main(int argc, char** argv) {
    qn::platform::Platform& plat = qn::platform::native_platform();
#ifdef QN_DESKTOP
    // Keys and windows of the session's desktop: X11, Wayland or none.
    qn::platform::posix::install_desktop(plat, qn::platform::posix::DesktopEnv::from_environment());
#endif
    // The program state lives until the process ends: the serial thread may
    // read it up to the last moment.
    qn::Context* ctx = qn::make_context(plat).release();
    std::vector<std::string> args(argv + 1, argv + argc);
    int code = qn::quennick_main(*ctx, args);
    qn::end_process(*ctx, code);
}
