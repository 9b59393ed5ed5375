// Shared pieces of the Win32 backend: error texts, code page 1252 text and
// paths, and the services' constructors.
//
// The platform headers come before <windows.h>, so they are seen to compile
// without it. The platform's own constants (kLineCts, kEventCts, kMsgChar,
// ...) have the values of the Windows ones they stand for.
#pragma once

#include "platform/platform.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qn::platform::win32 {

// "Call: <system message>" for GetLastError(), or for a given code.
std::string last_error(const char* call);
std::string error_text(const char* call, DWORD code);
// The text of a message code, from the system (module null) or from a
// module's message table, without its closing ".\r\n"; empty when none.
std::string message_text(HMODULE module, DWORD code);

// Text of this program is code page 1252 whatever the system code page is;
// conversions go through UTF-16 so the W calls can be used everywhere.
std::wstring widen(const std::string& cp1252);
std::string narrow(const wchar_t* text, int length);  // length -1: up to NUL
inline std::string narrow(const std::wstring& text) {
    return narrow(text.c_str(), static_cast<int>(text.size()));
}
// '/' separated path to a native one ('\' separated), as UTF-16.
std::wstring native_path(const std::string& path);

inline HANDLE to_handle(std::uintptr_t h) { return reinterpret_cast<HANDLE>(h); }
inline HWND to_hwnd(std::uintptr_t w) { return reinterpret_cast<HWND>(w); }
inline std::uintptr_t from_handle(const void* h) { return reinterpret_cast<std::uintptr_t>(h); }

std::unique_ptr<Clock> make_clock();
std::unique_ptr<Threads> make_threads();
std::unique_ptr<SerialPorts> make_serial();
std::unique_ptr<Console> make_console();
std::unique_ptr<Keyboard> make_keyboard();
std::unique_ptr<Windows> make_windows();
std::unique_ptr<Files> make_files();
std::unique_ptr<Process> make_process();
std::unique_ptr<Ending> make_ending();
std::unique_ptr<Network> make_network();
std::unique_ptr<Scheduling> make_scheduling();

}  // namespace qn::platform::win32
