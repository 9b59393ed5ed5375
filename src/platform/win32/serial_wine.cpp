#include "platform/win32/serial_wine.h"

namespace qn::platform::win32 {

namespace {

struct Line {
    DWORD ev;
    DWORD ms;
};
constexpr Line kLines[] = {
    {EV_CTS, MS_CTS_ON}, {EV_DSR, MS_DSR_ON}, {EV_RLSD, MS_RLSD_ON}, {EV_RING, MS_RING_ON}};

}  // namespace

bool running_under_wine() {
    static const bool wine = [] {
        HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
    }();
    return wine;
}

DWORD changed_events(DWORD a, DWORD b, DWORD ev_mask) {
    DWORD ev = 0;
    for (const Line& l : kLines)
        if ((ev_mask & l.ev) && ((a ^ b) & l.ms)) ev |= l.ev;
    return ev;
}

DWORD status_bits(DWORD events) {
    DWORD ms = 0;
    for (const Line& l : kLines)
        if (events & l.ev) ms |= l.ms;
    return ms;
}

RememberedLines* LineMemory::find(HANDLE port) {
    if (port == nullptr) return nullptr;  // the mark of a free slot
    for (Slot& s : slots_)
        if (s.port.load() == port) return &s.lines;
    return nullptr;
}

RememberedLines* LineMemory::claim(HANDLE port) {
    if (port == nullptr) return nullptr;
    if (RememberedLines* known = find(port)) return known;
    for (Slot& s : slots_) {
        HANDLE empty = nullptr;
        if (s.port.compare_exchange_strong(empty, port)) return &s.lines;
    }
    return nullptr;
}

void LineMemory::forget(HANDLE port) {
    if (port == nullptr) return;
    for (Slot& s : slots_) {
        HANDLE known = port;
        s.port.compare_exchange_strong(known, nullptr);
    }
}

}  // namespace qn::platform::win32
