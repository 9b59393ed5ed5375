#include "platform/win32/win32.h"
#include "platform/win32/win32_wait.h"

#include <shellapi.h>

namespace qn::platform {

namespace {

struct Win32Services {
    std::unique_ptr<Clock> clock = win32::make_clock();
    std::unique_ptr<Threads> threads = win32::make_threads();
    std::unique_ptr<SerialPorts> serial = win32::make_serial();
    std::unique_ptr<Console> console = win32::make_console();
    std::unique_ptr<Keyboard> keyboard = win32::make_keyboard();
    std::unique_ptr<Windows> windows = win32::make_windows();
    std::unique_ptr<Files> files = win32::make_files();
    std::unique_ptr<Process> process = win32::make_process();
    std::unique_ptr<Wait> wait = win32::make_wait(console.get());
    std::unique_ptr<Network> network = win32::make_network();
    std::unique_ptr<Scheduling> scheduling = win32::make_scheduling();
    std::unique_ptr<Ending> ending = win32::make_ending();
    Platform plat{.clock = clock.get(),
                  .threads = threads.get(),
                  .serial = serial.get(),
                  .console = console.get(),
                  .keyboard = keyboard.get(),
                  .windows = windows.get(),
                  .files = files.get(),
                  .process = process.get(),
                  .wait = wait.get(),
                  .network = network.get(),
                  .scheduling = scheduling.get(),
                  .ending = ending.get()};
};

}  // namespace

Platform& native_platform() {
    // Never destroyed: the serial thread may still use its services while
    // the process ends.
    static Win32Services* services = new Win32Services;
    return services->plat;
}

const char* native_platform_name() { return "win32"; }

std::vector<std::string> program_arguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>{};
    std::vector<std::string> args;
    for (int i = 1; i < count; ++i) args.push_back(win32::narrow(wide[i], -1));
    LocalFree(wide);
    return args;
}

const char* native_files_note() {
    return "Files: a settings file beside quennick.exe or in the current folder keeps\n"
           "everything there. Otherwise the settings file and bespoke.ini are in\n"
           "%APPDATA%\\Quennick, run logs and striking reports in Documents\\Quennick\\logs,\n"
           "and touch files are looked for by the name given, then beside the settings\n"
           "file and the program. --folder=DIR keeps them all in DIR.";
}

}  // namespace qn::platform
