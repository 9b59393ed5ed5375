// The POSIX backend as a whole, the end of the process, and the services a
// Linux desktop does not offer in the form the program needs.
#include <unistd.h>

#include <cstdio>

#include "platform/posix/posix_console.h"
#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"
#include "platform/posix/posix_wait.h"

namespace qn::platform {

namespace posix {

void PosixProcess::exit(int code) {
    std::fflush(nullptr);
    restore_terminal();
    // _exit, not exit: the serial thread is still running and must not see
    // static objects destroyed under it. Nothing is lost: files here write
    // straight to the OS and stdio was flushed above.
    ::_exit(code);
}

// Synthesised keystrokes and other programs' windows belong to the Windows
// desktop. There is no honest equivalent here: the Result calls say so, and
// the plain queries answer "no window", which is what a caller that has
// already been told sees anyway.
Result<std::uint32_t> PosixKeyboard::send_input(const KeyInput*, std::uint32_t) {
    return not_supported("send_input");
}

const DesktopInfo& PosixWindows::desktop() const {
    static const DesktopInfo none{DesktopReach::NoKeys, {"No keys: this program was built without desktop services"}, {}};
    return none;
}

Result<void> PosixWindows::enum_windows(const std::function<bool(WindowHandle)>&) {
    return not_supported("enum_windows");
}

std::uint32_t PosixWindows::thread_process_id(WindowHandle, std::uint32_t* pid) {
    if (pid != nullptr) *pid = 0;
    return 0;
}

Result<std::vector<ProcessEntry>> PosixWindows::processes() {
    return not_supported("processes");
}

}  // namespace posix

Platform& native_platform() {
    // Never destroyed: the serial thread may still be inside a service while
    // the process runs its exit handlers.
    static Platform* platform = [] {
        auto* console = new posix::PosixConsole(STDIN_FILENO, STDOUT_FILENO);
        auto* p = new Platform{new posix::PosixClock,    new posix::PosixThreads,
                               new posix::PosixSerial,   console,
                               new posix::PosixKeyboard, new posix::PosixWindows,
                               new posix::PosixFiles,    new posix::PosixProcess};
        p->wait = new posix::PosixWait(console);
        p->scheduling = new posix::PosixScheduling;
        p->ending = new posix::PosixEnding;
        p->network = posix::network_service ? posix::network_service() : nullptr;
        return p;
    }();
    return *platform;
}

const char* native_platform_name() { return "posix"; }

std::vector<std::string> program_arguments(int argc, char** argv) {
    return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
}

const char* native_files_note() {
    return "Files: the settings file and bespoke.ini are in $XDG_CONFIG_HOME/quennick\n"
           "(~/.config/quennick), run logs in $XDG_STATE_HOME/quennick/logs\n"
           "(~/.local/state/quennick/logs). A settings file in the current folder keeps\n"
           "them all there, as --folder=. does. Touch files are looked for by the name\n"
           "given, in composition_library/ beside the settings file, then in\n"
           "/usr/share/quennick/composition_library. See man quennick.";
}

}  // namespace qn::platform
