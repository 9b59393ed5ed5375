// Scheduling on Windows: the Multimedia Class Scheduler service (MMCSS),
// which lifts a thread registered for a task into the real-time priority
// range without administrator rights, as audio programs use it; else the
// thread's own priority. avrt.dll is a system DLL, loaded at run time from
// the system folder so that the program imports nothing more.
#include "platform/win32/serial_wine.h"
#include "platform/win32/win32.h"

namespace qn::platform::win32 {

namespace {

using SetCharacteristicsFn = HANDLE(WINAPI*)(LPCWSTR, LPDWORD);
using SetMmPriorityFn = BOOL(WINAPI*)(HANDLE, int);
// AVRT_PRIORITY (avrt.h).
constexpr int kAvrtPriorityHigh = 1;
constexpr int kAvrtPriorityCritical = 2;

struct Avrt {
    SetCharacteristicsFn set_characteristics = nullptr;
    SetMmPriorityFn set_priority = nullptr;
    std::string error;  // why MMCSS cannot be asked
};

template <typename Fn>
void look_up(HMODULE module, const char* name, Fn& fn, std::string& error) {
    fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!fn && error.empty()) error = last_error((std::string("GetProcAddress(") + name + ")").c_str());
}

// Loaded once and kept for the life of the process.
const Avrt& avrt() {
    static const Avrt loaded = [] {
        Avrt a;
        wchar_t dir[MAX_PATH];
        const UINT n = GetSystemDirectoryW(dir, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) {
            a.error = last_error("GetSystemDirectory");
            return a;
        }
        HMODULE module = LoadLibraryW((std::wstring(dir, n) + L"\\avrt.dll").c_str());
        if (!module) {
            a.error = last_error("LoadLibrary(avrt.dll)");
            return a;
        }
        look_up(module, "AvSetMmThreadCharacteristicsW", a.set_characteristics, a.error);
        look_up(module, "AvSetMmThreadPriority", a.set_priority, a.error);
        return a;
    }();
    return loaded;
}

class Win32Scheduling final : public Scheduling {
public:
    Result<std::string> realtime(Urgency u) override {
        const Avrt& a = avrt();
        if (!a.error.empty()) return fail(a.error);
        DWORD task_index = 0;
        HANDLE task = a.set_characteristics(L"Pro Audio", &task_index);
        if (!task) return fail(last_error("AvSetMmThreadCharacteristicsW(Pro Audio)"));
        // Wine's avrt.dll is a stand-in that says yes and changes nothing:
        // the thread's own priority is all there is.
        if (running_under_wine())
            return fail("AvSetMmThreadCharacteristicsW(Pro Audio): said yes, but Wine's MMCSS changes no priority");
        const bool critical = u == Urgency::Critical;
        if (!a.set_priority(task, critical ? kAvrtPriorityCritical : kAvrtPriorityHigh))
            return "MMCSS Pro Audio at the task's own priority (" + last_error("AvSetMmThreadPriority") + ")";
        return std::string("MMCSS Pro Audio, ") + (critical ? "AVRT_PRIORITY_CRITICAL" : "AVRT_PRIORITY_HIGH");
    }

    Result<std::string> realtime_by_broker(Urgency) override { return not_supported("realtime_by_broker"); }

    Result<std::string> raise(Urgency u) override {
        const bool critical = u == Urgency::Critical;
        if (!SetThreadPriority(GetCurrentThread(), critical ? THREAD_PRIORITY_TIME_CRITICAL : THREAD_PRIORITY_HIGHEST))
            return fail(last_error("SetThreadPriority"));
        return std::string(critical ? "THREAD_PRIORITY_TIME_CRITICAL" : "THREAD_PRIORITY_HIGHEST");
    }

    // Windows keeps a program's working set unless memory runs short; there
    // is no mlockall to ask for.
    Result<std::string> lock_memory() override { return not_supported("lock_memory"); }

    std::string how_to_allow() override {
        if (running_under_wine()) return "under Wine, thread priorities are Wine's to give";
        return "MMCSS needs the Multimedia Class Scheduler service running";
    }
};

}  // namespace

std::unique_ptr<Scheduling> make_scheduling() { return std::make_unique<Win32Scheduling>(); }

}  // namespace qn::platform::win32
