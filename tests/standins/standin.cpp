// A stand-in for one of the programs that keys are delivered to, for the
// key-delivery tests under Wine. One source, built once per executable name
// the program looks for:
//
//   <exe> MODE RECORD-FILE [decoy|bare]
//
// MODE is abel, beltower, muster, ding, firefox or chrome: it decides the
// window tree (titles and classes as the real program has them, as far as
// the key delivery cares). Every message of interest that reaches any of its
// windows is appended to RECORD-FILE as one line, written through at once:
//
//   <QPC time in us> <class> <window name> <message> <wParam> <how>
//
// how is "focus" for a WM_SETFOCUS that comes with a real change of the
// keyboard focus (activation, or the stand-in moving it), otherwise "sent"
// (SendMessage from another thread or process), "posted" (taken from the
// queue: real or synthesised keyboard input) or "own" (sent by this
// thread). Blanks in names are written as "_". At start the tree is written
// as "<us> <class> <name> LAYOUT <depth> <hwnd>" lines in Z order, then
// "<us> - - READY <pid> <top hwnd>".
//
// For Abel, "decoy" gives the view frame an extra first child of another
// class, to show that the child lookup takes the first child whatever its
// class; "bare" is the main window alone, as while the program starts up.
// The stand-in ends by itself after five minutes, so a test that dies
// leaves nothing running for long.
#include <windows.h>
#include <shellapi.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct WindowDef {
    const wchar_t* cls;
    const wchar_t* name;  // the title of a top-level window
    int parent;           // index of the parent in the mode's list, -1: top level
};

const std::vector<WindowDef>* windows_for(const std::wstring& mode, const std::wstring& variant) {
    static const std::vector<WindowDef> abel = {
        {L"Afx:Abel3:Main", L"Abel3 - stand-in tower", -1},
        {L"AfxMDIFrame140s", L"frame", 0},
        {L"AfxControlBar140s", L"toolbar", 0},
        {L"AfxFrameOrView140s", L"view1", 1},
        {L"AfxFrameOrView140s", L"view2", 1},
    };
    static const std::vector<WindowDef> abel_decoy = {
        {L"Afx:Abel3:Main", L"Abel3 - stand-in tower", -1},
        {L"AfxMDIFrame140s", L"frame", 0},
        {L"AfxWnd140s", L"ruler", 1},
        {L"AfxFrameOrView140s", L"view1", 1},
    };
    static const std::vector<WindowDef> abel_bare = {
        {L"Afx:Abel3:Main", L"Abel3 - stand-in tower", -1},
    };
    static const std::vector<WindowDef> beltower = {
        {L"ThunderRT6MDIForm", L"BELTOWER - stand-in tower", -1},
        {L"MDIClient", L"mdi", 0},
        {L"ThunderRT6PictureBoxDC", L"bells", 0},
        {L"hunderRT6FormDC", L"form1", 1},
        {L"hunderRT6FormDC", L"form2", 1},
    };
    static const std::vector<WindowDef> muster = {
        {L"WindowsForms10.Window.8.app.0.muster", L"Muster", -1},
        {L"DataGridView", L"grid", 0},
        {L"WindowsForms10.BUTTON.app.0.muster", L"start", 0},
    };
    static const std::vector<WindowDef> ding = {
        {L"UnityWndClass", L"Ding", -1},
    };
    static const std::vector<WindowDef> firefox = {
        {L"MozillaWindowClass", L"Practice Tower \u2014 Ringing Room \u2014 Mozilla Firefox", -1},
        {L"MozillaCompositorWindowClass", L"compositor", 0},
    };
    static const std::vector<WindowDef> chrome = {
        {L"Chrome_WidgetWin_1", L"Practice Tower \u2014 Ringing Room \u2014 Google Chrome", -1},
        {L"Chrome_RenderWidgetHostHWND", L"page", 0},
        {L"Intermediate D3D Window", L"d3d", 0},
    };
    if (mode == L"abel") return variant == L"decoy" ? &abel_decoy : variant == L"bare" ? &abel_bare : &abel;
    if (mode == L"beltower") return &beltower;
    if (mode == L"muster") return &muster;
    if (mode == L"ding") return &ding;
    if (mode == L"firefox") return &firefox;
    if (mode == L"chrome") return &chrome;
    return nullptr;
}

HANDLE g_record = INVALID_HANDLE_VALUE;
const MSG* g_dispatching = nullptr;  // the queued message being dispatched
HWND g_focus = nullptr;              // the window that really has the focus
bool g_focus_to_first_child = false;

struct Made {
    HWND hwnd;
    const WindowDef* def;
};
std::vector<Made> g_windows;

long long now_us() {
    static LARGE_INTEGER freq = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return static_cast<long long>(c.QuadPart / freq.QuadPart * 1000000 +
                                  c.QuadPart % freq.QuadPart * 1000000 / freq.QuadPart);
}

std::string utf8(const wchar_t* w) {
    int n = WideCharToMultiByte(CP_UTF8, 0, w, -1, nullptr, 0, nullptr, nullptr);
    std::string s(n > 0 ? n - 1 : 0, '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, w, -1, s.data(), n, nullptr, nullptr);
    for (char& ch : s)
        if (ch == ' ') ch = '_';  // one field per name
    return s;
}

void record(const std::string& line) {
    std::string text = std::to_string(now_us()) + " " + line + "\n";
    DWORD done = 0;
    WriteFile(g_record, text.data(), static_cast<DWORD>(text.size()), &done, nullptr);
}

const WindowDef* def_of(HWND w) {
    for (const Made& m : g_windows)
        if (m.hwnd == w) return m.def;
    return nullptr;
}

const char* message_name(UINT msg) {
    switch (msg) {
    case WM_CHAR: return "WM_CHAR";
    case WM_IME_KEYDOWN: return "WM_IME_KEYDOWN";
    case WM_IME_KEYUP: return "WM_IME_KEYUP";
    case WM_SETFOCUS: return "WM_SETFOCUS";
    case WM_LBUTTONDBLCLK: return "WM_LBUTTONDBLCLK";
    case WM_KEYDOWN: return "WM_KEYDOWN";
    case WM_KEYUP: return "WM_KEYUP";
    default: return nullptr;
    }
}

LRESULT CALLBACK window_proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_KILLFOCUS && g_focus == w) g_focus = nullptr;
    if (const char* name = message_name(msg)) {
        const WindowDef* s = def_of(w);
        // Activation arrives from another thread too, so "sent" alone cannot
        // tell a WM_SETFOCUS sent by a program from a real focus change.
        const bool focus_change = msg == WM_SETFOCUS && GetFocus() == w && g_focus != w;
        if (focus_change) g_focus = w;
        const char* how = focus_change                              ? "focus"
                          : (InSendMessageEx(nullptr) & ISMEX_SEND) ? "sent"
                          : (g_dispatching && g_dispatching->hwnd == w && g_dispatching->message == msg)
                              ? "posted"
                              : "own";
        record((s ? utf8(s->cls) + " " + utf8(s->name) : std::string("? ?")) + " " + name + " " +
               std::to_string(static_cast<unsigned long long>(wp)) + " " + how);
    }
    // A browser's page, not its frame, holds the keyboard focus.
    if (msg == WM_SETFOCUS && g_focus_to_first_child && def_of(w) && def_of(w)->parent < 0) {
        if (HWND child = GetWindow(w, GW_CHILD)) SetFocus(child);
        return 0;
    }
    if (msg == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(w, msg, wp, lp);
}

void record_layout(HWND w, int depth) {
    for (; w; w = GetWindow(w, GW_HWNDNEXT)) {
        const WindowDef* s = def_of(w);
        if (!s) continue;
        record(utf8(s->cls) + " " + utf8(s->name) + " LAYOUT " + std::to_string(depth) + " " +
               std::to_string(reinterpret_cast<unsigned long long>(w)));
        record_layout(GetWindow(w, GW_CHILD), depth + 1);
    }
}

bool make_windows(const std::vector<WindowDef>& defs) {
    HINSTANCE inst = GetModuleHandleW(nullptr);
    for (const WindowDef& s : defs) {
        WNDCLASSW wc{};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = window_proc;
        wc.hInstance = inst;
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = s.cls;
        RegisterClassW(&wc);  // a class listed twice is registered once
    }
    int y = 0;
    for (const WindowDef& s : defs) {
        HWND parent = s.parent < 0 ? nullptr : g_windows[static_cast<std::size_t>(s.parent)].hwnd;
        DWORD style = s.parent < 0 ? WS_OVERLAPPEDWINDOW : WS_CHILD | WS_VISIBLE;
        HWND w = CreateWindowExW(0, s.cls, s.name, style, s.parent < 0 ? 40 : 0, s.parent < 0 ? 40 : y, 320,
                                 s.parent < 0 ? 240 : 60, parent, nullptr, inst, nullptr);
        if (!w) return false;
        g_windows.push_back({w, &s});
        y += 60;
    }
    // Sibling order is creation order: each child goes below those made before.
    for (const Made& m : g_windows)
        if (m.def->parent >= 0) SetWindowPos(m.hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return true;
}

}  // namespace

int main() {
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv || argc < 3) return 2;
    const std::vector<WindowDef>* defs = windows_for(argv[1], argc > 3 ? argv[3] : L"");
    if (!defs) return 2;
    g_focus_to_first_child = std::wcscmp(argv[1], L"chrome") == 0;
    g_record = CreateFileW(argv[2], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (g_record == INVALID_HANDLE_VALUE) return 3;
    if (!make_windows(*defs)) return 4;

    HWND top = g_windows.front().hwnd;
    ShowWindow(top, SW_SHOW);
    UpdateWindow(top);
    record_layout(top, 0);
    record("- - READY " + std::to_string(GetCurrentProcessId()) + " " +
           std::to_string(reinterpret_cast<unsigned long long>(top)));
    SetTimer(nullptr, 0, 300000, nullptr);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_TIMER && msg.hwnd == nullptr) break;
        TranslateMessage(&msg);
        g_dispatching = &msg;
        DispatchMessageW(&msg);
        g_dispatching = nullptr;
    }
    CloseHandle(g_record);
    return 0;
}
