#include "platform/win32/win32.h"
#include "platform/win32/win32_wait.h"

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

const char* native_files_note() {
    return "Files: the settings file, bespoke.ini, logs\\ and composition_library\\ are in\n"
           "the current folder.";
}

}  // namespace qn::platform
