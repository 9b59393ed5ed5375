#include "platform/win32/win32.h"

#include <vector>

namespace qn::platform::win32 {

namespace {

constexpr const wchar_t* kSerialComm = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

Result<void> check(BOOL ok, const char* call) {
    if (!ok) return fail(last_error(call));
    return {};
}

// ---- line settings <-> DCB ---------------------------------------------------

Result<LineSettings> from_dcb(const DCB& d) {
    LineSettings s;
    s.baud = d.BaudRate;
    s.data_bits = d.ByteSize;
    switch (d.Parity) {
    case NOPARITY: s.parity = Parity::None; break;
    case ODDPARITY: s.parity = Parity::Odd; break;
    case EVENPARITY: s.parity = Parity::Even; break;
    default: return fail("GetCommState: mark or space parity is set, which this program does not use");
    }
    switch (d.StopBits) {
    case ONESTOPBIT: s.stop_bits = StopBits::One; break;
    case ONE5STOPBITS: s.stop_bits = StopBits::OneAndHalf; break;
    default: s.stop_bits = StopBits::Two; break;
    }
    s.binary = d.fBinary;
    s.outx_cts_flow = d.fOutxCtsFlow;
    s.outx_dsr_flow = d.fOutxDsrFlow;
    if (d.fDtrControl > DTR_CONTROL_HANDSHAKE)
        return fail("GetCommState: an undefined DTR control is set");
    s.dtr_control = static_cast<LineControl>(d.fDtrControl);
    if (d.fRtsControl > RTS_CONTROL_HANDSHAKE)
        return fail("GetCommState: RTS toggle control is set, which this program does not use");
    s.rts_control = static_cast<LineControl>(d.fRtsControl);
    s.outx = d.fOutX;
    s.inx = d.fInX;
    s.xon_char = d.XonChar;
    s.xoff_char = d.XoffChar;
    s.xon_lim = d.XonLim;
    s.xoff_lim = d.XoffLim;
    return s;
}

// Everything the settings do not name is off: parity checking follows the
// parity, and no error, null-stripping, abort-on-error or DSR-sensitivity
// behaviour is left over from whoever used the port before.
DCB to_dcb(const LineSettings& s) {
    DCB d{};
    d.DCBlength = sizeof d;
    d.BaudRate = s.baud;
    d.ByteSize = s.data_bits;
    d.Parity = s.parity == Parity::Odd ? ODDPARITY : s.parity == Parity::Even ? EVENPARITY : NOPARITY;
    d.fParity = s.parity != Parity::None;
    d.StopBits = s.stop_bits == StopBits::OneAndHalf ? ONE5STOPBITS
                 : s.stop_bits == StopBits::Two     ? TWOSTOPBITS
                                                    : ONESTOPBIT;
    d.fBinary = s.binary;
    d.fOutxCtsFlow = s.outx_cts_flow;
    d.fOutxDsrFlow = s.outx_dsr_flow;
    d.fDtrControl = static_cast<DWORD>(s.dtr_control);
    d.fRtsControl = static_cast<DWORD>(s.rts_control);
    d.fOutX = s.outx;
    d.fInX = s.inx;
    d.XonChar = s.xon_char;
    d.XoffChar = s.xoff_char;
    d.XonLim = s.xon_lim;
    d.XoffLim = s.xoff_lim;
    return d;
}

// ---- the registry list -------------------------------------------------------

Result<std::vector<std::string>> read_port_names(HKEY key) {
    DWORD count = 0, max_name = 0, max_data = 0;
    LSTATUS rc = RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                  &max_name, &max_data, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return fail(error_text("RegQueryInfoKey", static_cast<DWORD>(rc)));
    std::vector<std::string> names;
    std::vector<wchar_t> name(max_name + 1);
    std::vector<BYTE> data(max_data + sizeof(wchar_t));
    for (DWORD i = 0; i < count; ++i) {
        DWORD name_len = static_cast<DWORD>(name.size());
        DWORD data_len = static_cast<DWORD>(data.size() - sizeof(wchar_t));
        DWORD type = 0;
        rc = RegEnumValueW(key, i, name.data(), &name_len, nullptr, &type, data.data(), &data_len);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc != ERROR_SUCCESS) return fail(error_text("RegEnumValue", static_cast<DWORD>(rc)));
        if (type != REG_SZ) continue;
        // Registry strings need not end in a NUL; the length is what counts.
        const auto* text = reinterpret_cast<const wchar_t*>(data.data());
        int len = static_cast<int>(data_len / sizeof(wchar_t));
        while (len > 0 && text[len - 1] == L'\0') --len;
        names.push_back(narrow(text, len));
    }
    return names;
}

// ---- the service ---------------------------------------------------------------

class Win32Serial final : public SerialPorts {
public:
    Result<std::vector<std::string>> list_port_names() override {
        HKEY key = nullptr;
        LSTATUS rc = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialComm, 0, KEY_READ, &key);
        // The key only exists while some serial port driver is loaded.
        if (rc == ERROR_FILE_NOT_FOUND) return std::vector<std::string>{};
        if (rc != ERROR_SUCCESS) return fail(error_text("RegOpenKeyEx", static_cast<DWORD>(rc)));
        auto names = read_port_names(key);
        RegCloseKey(key);
        return names;
    }

    Result<PortHandle> open(const std::string& device) override {
        SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
        HANDLE h = CreateFileW(widen(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return fail(last_error("CreateFile"));
        return from_handle(h);
    }

    void close(PortHandle h) override {
        if (h != 0) CloseHandle(to_handle(h));
    }

    Result<LineSettings> get_state(PortHandle h) override {
        DCB d{};
        d.DCBlength = sizeof d;
        if (!GetCommState(to_handle(h), &d)) return fail(last_error("GetCommState"));
        return from_dcb(d);
    }

    Result<void> set_state(PortHandle h, const LineSettings& s) override {
        DCB d = to_dcb(s);
        return check(SetCommState(to_handle(h), &d), "SetCommState");
    }

    Result<Timeouts> get_timeouts(PortHandle h) override {
        COMMTIMEOUTS t{};
        if (!GetCommTimeouts(to_handle(h), &t)) return fail(last_error("GetCommTimeouts"));
        return Timeouts{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                        t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
    }

    Result<void> set_timeouts(PortHandle h, const Timeouts& t) override {
        COMMTIMEOUTS c{t.read_interval, t.read_total_multiplier, t.read_total_constant,
                       t.write_total_multiplier, t.write_total_constant};
        return check(SetCommTimeouts(to_handle(h), &c), "SetCommTimeouts");
    }

    Result<void> set_mask(PortHandle h, std::uint32_t ev_mask) override {
        return check(SetCommMask(to_handle(h), ev_mask), "SetCommMask");
    }

    Result<std::uint32_t> wait_event(PortHandle h) override {
        DWORD ev = 0;
        if (!WaitCommEvent(to_handle(h), &ev, nullptr)) return fail(last_error("WaitCommEvent"));
        return static_cast<std::uint32_t>(ev);
    }

    Result<std::uint32_t> modem_status(PortHandle h) override {
        DWORD st = 0;
        if (!GetCommModemStatus(to_handle(h), &st)) return fail(last_error("GetCommModemStatus"));
        return static_cast<std::uint32_t>(st);
    }

    Result<std::uint32_t> read(PortHandle h, char* buf, std::uint32_t max) override {
        DWORD got = 0;
        if (!ReadFile(to_handle(h), buf, max, &got, nullptr)) return fail(last_error("ReadFile"));
        return static_cast<std::uint32_t>(got);
    }

    Result<void> purge(PortHandle h, std::uint32_t flags) override {
        return check(PurgeComm(to_handle(h), flags), "PurgeComm");
    }

    Result<void> flush(PortHandle h) override {
        return check(FlushFileBuffers(to_handle(h)), "FlushFileBuffers");
    }
};

}  // namespace

std::unique_ptr<SerialPorts> make_serial() { return std::make_unique<Win32Serial>(); }

}  // namespace qn::platform::win32
