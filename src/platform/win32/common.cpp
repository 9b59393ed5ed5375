#include "platform/win32/win32.h"

namespace qn::platform::win32 {

namespace {

constexpr UINT kCp1252 = 1252;

}  // namespace

std::string message_text(HMODULE module, DWORD code) {
    wchar_t* buf = nullptr;
    const DWORD from = module ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | from | FORMAT_MESSAGE_IGNORE_INSERTS, module, code, 0,
                             reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::string text;
    if (n > 0 && buf) text = narrow(buf, static_cast<int>(n));
    if (buf) LocalFree(buf);
    // Messages end with ".\r\n"; the caller's text goes on after them.
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.'))
        text.pop_back();
    return text;
}

std::string error_text(const char* call, DWORD code) {
    // Some calls fail without setting an error (Wine's window calls with no
    // display): the system's text for 0 would say they succeeded.
    if (code == ERROR_SUCCESS) return std::string(call) + ": failed without saying why";
    std::string text = message_text(nullptr, code);
    if (text.empty()) text = "error " + std::to_string(code);
    return std::string(call) + ": " + text;
}

std::string last_error(const char* call) { return error_text(call, GetLastError()); }

std::wstring widen(const std::string& cp1252) {
    if (cp1252.empty()) return {};
    int len = static_cast<int>(cp1252.size());
    int n = MultiByteToWideChar(kCp1252, 0, cp1252.data(), len, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(kCp1252, 0, cp1252.data(), len, out.data(), n);
    return out;
}

std::string narrow(const wchar_t* text, int length) {
    if (!text || length == 0) return {};
    int n = WideCharToMultiByte(kCp1252, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(kCp1252, 0, text, length, out.data(), n, nullptr, nullptr);
    if (length < 0 && !out.empty() && out.back() == '\0') out.pop_back();
    return out;
}

std::wstring native_path(const std::string& path) {
    std::wstring w = widen(path);
    for (auto& ch : w)
        if (ch == L'/') ch = L'\\';
    return w;
}

}  // namespace qn::platform::win32
