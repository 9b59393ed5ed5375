// All platform services, reached from the program context.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/console.h"
#include "platform/ending.h"
#include "platform/files.h"
#include "platform/keyboard.h"
#include "platform/network.h"
#include "platform/process.h"
#include "platform/scheduling.h"
#include "platform/serial.h"
#include "platform/threads.h"
#include "platform/wait.h"
#include "platform/windows.h"

namespace qn::platform {

struct Platform {
    Clock* clock = nullptr;
    Threads* threads = nullptr;
    SerialPorts* serial = nullptr;
    Console* console = nullptr;
    Keyboard* keyboard = nullptr;
    Windows* windows = nullptr;
    Files* files = nullptr;
    Process* process = nullptr;
    Wait* wait = nullptr;  // every backend has one
    Network* network = nullptr;  // null where the build has no network service
    Scheduling* scheduling = nullptr;  // null where threads take turns (virtual time)
    Ending* ending = nullptr;    // null: requests to end are left to the OS
};

// The services of the OS this program was built for; they live as long as
// the process. The name says which backend it is ("win32", "posix").
Platform& native_platform();
const char* native_platform_name();
// Where the program's files are on this OS, for the command line's help.
const char* native_files_note();

// The arguments after the program's name, as the program's text: on Windows
// from the wide command line in code page 1252 (argv is in whatever code
// page the system uses), elsewhere argv as it is.
std::vector<std::string> program_arguments(int argc, char** argv);

}  // namespace qn::platform
