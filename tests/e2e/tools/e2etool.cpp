// The end-to-end driver's eyes inside Wine (tests/e2e runs it once per
// suite as "e2etool serve"). It reads one request a line from standard input
// and answers each with its lines and then a line ".":
//
//   screen EXE   the console screen of the running program EXE (by
//                executable name), as a person sees it: 25 lines
//                "T|<80 characters>|", then 25 lines "A|<80 colour pairs>|",
//                each pair a hex digit of the background and one of the text
//   front        the title of the window in front (the foreground window)
//   text TITLE   the text in the edit box of the window whose title ends
//                with TITLE (Notepad's page)
//   ctrl EXE N   the console control event N (2 close, 5 log-off, 6 shut-down)
//                delivered to EXE as Windows delivers it: a new thread in the
//                process runs kernelbase's CtrlRoutine(N), which calls the
//                program's handlers (Wine's console window sends none when
//                it is closed); answers once that thread is started
//   qpc          QueryPerformanceCounter now, in microseconds as the
//                stand-ins compute it, so that the driver can relate Wine's
//                clock to its own
//
// A request that cannot be answered gets one line "!" and the reason.
#include <windows.h>
#include <tlhelp32.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

long long qpc_us() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return static_cast<long long>(c.QuadPart / f.QuadPart * 1000000 + c.QuadPart % f.QuadPart * 1000000 / f.QuadPart);
}

std::string utf8(const std::wstring& w) {
    if (w.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

std::string failed(const std::string& call) { return "!" + call + " failed, error " + std::to_string(GetLastError()); }

DWORD find_process(const std::string& exe) {
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snap == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 pe{};
    pe.dwSize = sizeof pe;
    DWORD found = 0;
    for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe))
        if (_stricmp(pe.szExeFile, exe.c_str()) == 0) found = pe.th32ProcessID;
    CloseHandle(snap);
    return found;
}

// The characters as the program wrote them: it draws in code page 1252.
char narrow(WCHAR w) {
    if (w == 0) return ' ';
    char ch = '?';
    WideCharToMultiByte(1252, 0, &w, 1, &ch, 1, "?", nullptr);
    return ch;
}

std::string screen(const std::string& exe) {
    DWORD pid = find_process(exe);
    if (!pid) return "!no process " + exe;
    FreeConsole();
    if (!AttachConsole(pid)) return failed("AttachConsole");
    HANDLE con = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    if (con == INVALID_HANDLE_VALUE) {
        std::string why = failed("CreateFile CONOUT$");
        FreeConsole();
        return why;
    }
    const SHORT rows = 25, cols = 80;
    std::vector<CHAR_INFO> cells(static_cast<std::size_t>(rows * cols));
    SMALL_RECT area{0, 0, cols - 1, rows - 1};
    BOOL ok = ReadConsoleOutputW(con, cells.data(), COORD{cols, rows}, COORD{0, 0}, &area);
    std::string why = ok ? "" : failed("ReadConsoleOutput");
    CloseHandle(con);
    FreeConsole();
    if (!ok) return why;
    static const char hex[] = "0123456789abcdef";
    std::string text, attrs;
    for (int r = 0; r < rows; ++r) {
        text += "T|";
        attrs += "A|";
        for (int c = 0; c < cols; ++c) {
            const CHAR_INFO& ci = cells[static_cast<std::size_t>(r * cols + c)];
            text += narrow(ci.Char.UnicodeChar);
            attrs += hex[(ci.Attributes >> 4) & 15];
            attrs += hex[ci.Attributes & 15];
        }
        text += "|\n";
        attrs += "|\n";
    }
    return text + attrs;
}

std::wstring title_of(HWND w) {
    wchar_t buf[512] = {};
    int n = GetWindowTextW(w, buf, 512);
    return std::wstring(buf, static_cast<std::size_t>(n > 0 ? n : 0));
}

std::string front() {
    HWND w = GetForegroundWindow();
    return w ? utf8(title_of(w)) : "";
}

std::string edit_text(const std::string& title) {
    struct Search {
        std::wstring part;
        HWND found;
    } s{wide(title), nullptr};
    EnumWindows(
        [](HWND w, LPARAM arg) -> BOOL {
            auto* s = reinterpret_cast<Search*>(arg);
            std::wstring t = title_of(w);
            if (!IsWindowVisible(w) || t.size() < s->part.size() ||
                t.compare(t.size() - s->part.size(), s->part.size(), s->part) != 0)
                return TRUE;
            s->found = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&s));
    if (!s.found) return "!no window " + title;
    HWND edit = FindWindowExW(s.found, nullptr, L"Edit", nullptr);
    if (!edit) return "!no edit box in " + title;
    std::vector<wchar_t> buf(65536);
    LRESULT n = SendMessageW(edit, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    std::string text = utf8(std::wstring(buf.data(), static_cast<std::size_t>(n)));
    // One answer line: line breaks of the page are shown as "\n".
    std::string out;
    for (char ch : text) {
        if (ch == '\r') continue;
        if (ch == '\n') out += "\\n";
        else if (ch == '\\') out += "\\\\";
        else out += ch;
    }
    return out;
}

std::string control_event(const std::string& args) {
    const std::size_t space = args.rfind(' ');
    if (space == std::string::npos) return "!usage: ctrl EXE N";
    DWORD pid = find_process(args.substr(0, space));
    if (!pid) return "!no process " + args.substr(0, space);
    FARPROC routine = GetProcAddress(GetModuleHandleW(L"kernelbase.dll"), "CtrlRoutine");
    if (!routine) return failed("GetProcAddress CtrlRoutine");
    HANDLE p = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
    if (!p) return failed("OpenProcess");
    const ULONG_PTR event = std::stoul(args.substr(space + 1));
    HANDLE t = CreateRemoteThread(p, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(routine)),
                                  reinterpret_cast<void*>(event), 0, nullptr);
    std::string why = t ? "" : failed("CreateRemoteThread");
    if (t) CloseHandle(t);
    CloseHandle(p);
    return why;
}

std::string answer(const std::string& request) {
    if (request == "qpc") return std::to_string(qpc_us());
    if (request == "front") return front();
    if (request.rfind("screen ", 0) == 0) return screen(request.substr(7));
    if (request.rfind("text ", 0) == 0) return edit_text(request.substr(5));
    if (request.rfind("ctrl ", 0) == 0) return control_event(request.substr(5));
    return "!unknown request " + request;
}

void put(HANDLE out, std::string s) {
    if (!s.empty() && s.back() != '\n') s += '\n';
    s += ".\n";
    DWORD done = 0;
    WriteFile(out, s.data(), static_cast<DWORD>(s.size()), &done, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    // The standard handles are the driver's pipes; they stay usable while
    // this process attaches to other consoles.
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE), out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (argc != 2 || std::strcmp(argv[1], "serve") != 0) {
        put(GetStdHandle(STD_ERROR_HANDLE), "usage: e2etool serve");
        return 2;
    }
    std::string line;
    char ch;
    DWORD n = 0;
    while (ReadFile(in, &ch, 1, &n, nullptr) && n == 1) {
        if (ch == '\r') continue;
        if (ch != '\n') {
            line += ch;
            continue;
        }
        put(out, answer(line));
        line.clear();
    }
    return 0;
}
