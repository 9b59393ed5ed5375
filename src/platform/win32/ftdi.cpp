#include "platform/win32/ftdi.h"

#include <vector>

namespace qn::platform::win32 {

namespace {

constexpr const wchar_t* kFtdiBus = L"SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS";

class Key {
public:
    Key() = default;
    ~Key() {
        if (h_) RegCloseKey(h_);
    }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;

    LSTATUS open(HKEY parent, const std::wstring& path) {
        return RegOpenKeyExW(parent, path.c_str(), 0, KEY_READ, &h_);
    }
    HKEY get() const { return h_; }

    // The names of the subkeys; stops at the first error.
    std::vector<std::wstring> subkeys() const {
        std::vector<std::wstring> names;
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD len = sizeof name / sizeof name[0];
            if (RegEnumKeyExW(h_, i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            names.emplace_back(name, len);
        }
        return names;
    }

    // A REG_SZ value; empty when absent or of another type.
    std::wstring text(const wchar_t* value) const {
        wchar_t buf[64];
        DWORD type = 0, size = sizeof buf;
        if (RegQueryValueExW(h_, value, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return {};
        // Registry strings need not end in a NUL; the length is what counts.
        std::size_t len = size / sizeof(wchar_t);
        while (len > 0 && buf[len - 1] == L'\0') --len;
        return std::wstring(buf, len);
    }

    // A REG_DWORD value; -1 when absent or of another type.
    long number(const wchar_t* value) const {
        DWORD v = 0, type = 0, size = sizeof v;
        if (RegQueryValueExW(h_, value, nullptr, &type, reinterpret_cast<BYTE*>(&v), &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof v)
            return -1;
        return static_cast<long>(v);
    }

private:
    HKEY h_ = nullptr;
};

bool same_port(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

}  // namespace

PortLatency ftdi_latency(const std::string& port_name) {
    PortLatency out;
    const std::wstring port = widen(port_name);
    Key bus;
    const LSTATUS rc = bus.open(HKEY_LOCAL_MACHINE, kFtdiBus);
    // No key: FTDI's driver has never seen a device on this machine.
    if (rc == ERROR_FILE_NOT_FOUND) return out;
    if (rc != ERROR_SUCCESS) {
        out.note = error_text("RegOpenKeyEx", static_cast<DWORD>(rc));
        return out;
    }
    for (const std::wstring& device : bus.subkeys()) {
        Key dev;
        if (dev.open(bus.get(), device) != ERROR_SUCCESS) continue;
        for (const std::wstring& instance : dev.subkeys()) {
            const std::wstring sub = instance + L"\\Device Parameters";
            Key params;
            if (params.open(dev.get(), sub) != ERROR_SUCCESS || !same_port(params.text(L"PortName"), port))
                continue;
            out.where = "HKLM\\" + narrow(kFtdiBus, -1) + "\\" + narrow(device) + "\\" + narrow(sub);
            out.timer_ms = static_cast<int>(params.number(L"LatencyTimer"));
            if (out.timer_ms < 0) out.note = "the key has no LatencyTimer value";
            if (out.timer_ms != 0 && out.timer_ms != 1)
                out.advice = "Device Manager, Ports (COM & LPT), " + port_name +
                             ", Properties, Port Settings, Advanced, Latency Timer (msec): set 1";
            return out;
        }
    }
    return out;
}

}  // namespace qn::platform::win32
