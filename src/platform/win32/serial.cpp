#include "platform/win32/ftdi.h"
#include "platform/win32/serial_readahead.h"
#include "platform/win32/serial_wine.h"
#include "platform/win32/win32.h"

#include <map>
#include <mutex>
#include <string>
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

// ---- overlapped calls ----------------------------------------------------------
//
// The port is opened for overlapped I/O. On a handle without it Windows lets
// one call at a time through to the driver, so a WaitCommEvent blocked on
// the status thread would hold the main thread's FlushFileBuffers, PurgeComm
// and CloseHandle (shutdown, fatal stops) until the next line change. Every
// call here still blocks its caller until it is over, with the results a
// non-overlapped handle gives.

// A manual-reset event of the calling thread, made on its first call and
// closed when the thread ends; nullptr (with the error in GetLastError) when
// it cannot be made. One is enough: a thread makes one call at a time.
HANDLE thread_event() {
    struct Owned {
        HANDLE event = nullptr;
        ~Owned() {
            if (event) CloseHandle(event);
        }
    };
    thread_local Owned owned;
    if (!owned.event) owned.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return owned.event;
}

// One overlapped call: give get() to the call, hand what it returned to
// issued(), then finish() waits for the end.
class OverlappedCall {
public:
    explicit OverlappedCall(HANDLE port) : port_(port) { ov_.hEvent = thread_event(); }
    ~OverlappedCall() {
        // Never leave the system writing into a dead frame.
        if (pending_) {
            CancelIoEx(port_, &ov_);
            DWORD n = 0;
            GetOverlappedResult(port_, &ov_, &n, TRUE);
        }
    }
    OverlappedCall(const OverlappedCall&) = delete;
    OverlappedCall& operator=(const OverlappedCall&) = delete;

    // Without an event GetOverlappedResult would wait on the port handle,
    // which every call on the port signals.
    Result<void> ready() const {
        if (!ov_.hEvent) return fail(last_error("CreateEvent"));
        return {};
    }
    OVERLAPPED* get() { return &ov_; }
    // True when the call is done or under way.
    bool issued(BOOL ok, const char* call) {
        if (ok) return true;
        DWORD e = GetLastError();
        if (e == ERROR_IO_PENDING) {
            pending_ = true;
            return true;
        }
        error_ = error_text(call, e);
        return false;
    }
    bool pending() const { return pending_; }
    const std::string& error() const { return error_; }
    // Waits for the end; the byte count. A failure is the call's own, so it
    // carries the call's name.
    Result<DWORD> finish(const char* call) {
        DWORD n = 0;
        BOOL ok = GetOverlappedResult(port_, &ov_, &n, TRUE);
        pending_ = false;
        if (ok) return n;
        // A read that runs out of time ends with STATUS_TIMEOUT, a success
        // status: Windows returns the bytes that came, but Wine's
        // GetOverlappedResult fails it.
        if (ov_.Internal == STATUS_TIMEOUT) return static_cast<DWORD>(ov_.InternalHigh);
        return fail(last_error(call));
    }

private:
    HANDLE port_;
    OVERLAPPED ov_{};
    bool pending_ = false;
    std::string error_;
};

Result<DWORD> modem_word(HANDLE port) {
    DWORD st = 0;
    if (!GetCommModemStatus(port, &st)) return fail(last_error("GetCommModemStatus"));
    return st;
}

// WaitCommEvent to the end: the EV_ bits.
Result<std::uint32_t> wait_comm_event(HANDLE port) {
    DWORD ev = 0;  // written by the system until the call is over
    OverlappedCall io(port);
    if (auto r = io.ready(); !r) return fail(r.error());
    if (!io.issued(WaitCommEvent(port, &ev, io.get()), "WaitCommEvent")) return fail(io.error());
    auto done = io.finish("WaitCommEvent");
    if (!done) return fail(done.error());
    return static_cast<std::uint32_t>(ev);
}

// Under Wine: a wait that reports what the Windows driver would have kept
// since the last one (see serial_wine.h).
//
// What is remembered is the lines as the waits reported them, not a reading
// taken after the wait: a pulse already over by then was still reported as
// a change, and its return is a change the next wait must report.
Result<std::uint32_t> wait_remembering(HANDLE port, RememberedLines& lines) {
    const DWORD mask = lines.mask.load();
    const DWORD before = lines.seen.load();
    auto now = modem_word(port);
    if (!now) return wait_comm_event(port);  // which then says what is wrong
    if (DWORD missed = changed_events(before, *now, mask)) {
        lines.seen = before ^ status_bits(missed);
        return static_cast<std::uint32_t>(missed);
    }
    DWORD ev = 0;
    OverlappedCall io(port);
    if (auto r = io.ready(); !r) return fail(r.error());
    if (!io.issued(WaitCommEvent(port, &ev, io.get()), "WaitCommEvent")) return fail(io.error());
    DWORD reported = 0;
    auto started = io.pending() ? modem_word(port) : Result<DWORD>(before);
    if (DWORD missed = started ? changed_events(before, *started, mask) : 0) {
        // The lines moved between the look above and the start of Wine's
        // wait, which may have taken the change as its starting state and
        // would then never report it. Report it now; setting the mask ends
        // Wine's wait at its next poll (with the change, if it saw it).
        SetCommMask(port, mask);
        auto done = io.finish("WaitCommEvent");
        reported = missed | (done ? ev & mask : 0);
    } else {
        auto done = io.finish("WaitCommEvent");
        if (!done) return fail(done.error());
        reported = ev & mask;
    }
    lines.seen = before ^ status_bits(reported);
    return static_cast<std::uint32_t>(reported);
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
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (h == INVALID_HANDLE_VALUE) return fail(last_error("CreateFile"));
        std::lock_guard<std::mutex> g(ports_lock_);
        ports_[h] = OpenPort{port_name(device), false};
        return from_handle(h);
    }

    void close(PortHandle h) override {
        if (h == 0) return;
        HANDLE port = to_handle(h);
        // A wait or read under way on another thread ends now, whatever the
        // driver does when the handle goes.
        if (wine_) ReadAhead::of_process().forget(port);
        CancelIoEx(port, nullptr);
        memory_.forget(port);
        {
            std::lock_guard<std::mutex> g(ports_lock_);
            ports_.erase(port);
        }
        CloseHandle(port);
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
        Timeouts got{t.ReadIntervalTimeout, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                     t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant};
        note_timeouts(to_handle(h), got);
        return got;
    }

    Result<void> set_timeouts(PortHandle h, const Timeouts& t) override {
        COMMTIMEOUTS c{t.read_interval, t.read_total_multiplier, t.read_total_constant,
                       t.write_total_multiplier, t.write_total_constant};
        if (!SetCommTimeouts(to_handle(h), &c)) return fail(last_error("SetCommTimeouts"));
        note_timeouts(to_handle(h), t);
        return {};
    }

    Result<void> set_mask(PortHandle h, std::uint32_t ev_mask) override {
        HANDLE port = to_handle(h);
        if (!SetCommMask(port, ev_mask)) return fail(last_error("SetCommMask"));
        if (wine_) remember_lines(port, ev_mask);
        return {};
    }

    Result<std::uint32_t> wait_event(PortHandle h) override {
        HANDLE port = to_handle(h);
        RememberedLines* lines = wine_ ? memory_.find(port) : nullptr;
        return lines ? wait_remembering(port, *lines) : wait_comm_event(port);
    }

    Result<std::uint32_t> modem_status(PortHandle h) override {
        DWORD st = 0;
        if (!GetCommModemStatus(to_handle(h), &st)) return fail(last_error("GetCommModemStatus"));
        return static_cast<std::uint32_t>(st);
    }

    Result<std::uint32_t> read(PortHandle h, char* buf, std::uint32_t max) override {
        HANDLE port = to_handle(h);
        const bool at_once = reads_at_once(port);
        if (wine_ && max > 0) {
            // The byte the wait's read brought comes first, alone (the
            // program reads one byte at a time).
            switch (ReadAhead::of_process().take(port, at_once, buf)) {
            case ReadAhead::Take::Byte: return 1u;
            case ReadAhead::Take::Nothing: return 0u;
            case ReadAhead::Take::Read: break;
            }
        }
        if (at_once) {
            // Windows ends such a read at once with what is there; Wine
            // (8.0) leaves an overlapped one pending until a byte comes. The
            // count of bytes waiting decides first, on both.
            DWORD errors = 0;
            COMSTAT st{};
            if (!ClearCommError(port, &errors, &st)) return fail(last_error("ClearCommError"));
            if (st.cbInQue == 0) return 0u;
            if (max > st.cbInQue) max = st.cbInQue;
        }
        OverlappedCall io(port);
        if (auto r = io.ready(); !r) return fail(r.error());
        if (!io.issued(ReadFile(port, buf, max, nullptr, io.get()), "ReadFile")) return fail(io.error());
        auto got = io.finish("ReadFile");
        if (!got) return fail(got.error());
        return static_cast<std::uint32_t>(*got);
    }

    Result<void> purge(PortHandle h, std::uint32_t flags) override {
        auto done = check(PurgeComm(to_handle(h), flags), "PurgeComm");
        // A byte the wait's read brought is input not yet read: it goes too.
        if (wine_ && (flags & (PURGE_RXCLEAR | PURGE_RXABORT))) ReadAhead::of_process().drop(to_handle(h));
        return done;
    }

    Result<void> flush(PortHandle h) override {
        return check(FlushFileBuffers(to_handle(h)), "FlushFileBuffers");
    }

    // Windows has no request for low latency: the FTDI driver's latency
    // timer is a setting of the port, read here and changed by the user.
    PortLatency tune_latency(PortHandle h) override {
        std::string name;
        {
            std::lock_guard<std::mutex> g(ports_lock_);
            auto it = ports_.find(to_handle(h));
            if (it == ports_.end()) return {};
            name = it->second.name;
        }
        return ftdi_latency(name);
    }

private:
    struct OpenPort {
        std::string name;    // "COM5"
        bool at_once;        // reads return at once with what is there
    };

    void note_timeouts(HANDLE port, const Timeouts& t) {
        std::lock_guard<std::mutex> g(ports_lock_);
        auto it = ports_.find(port);
        if (it == ports_.end()) return;
        it->second.at_once = t.read_interval == MAXDWORD && t.read_total_multiplier == 0 &&
                             t.read_total_constant == 0;
    }

    bool reads_at_once(HANDLE port) {
        std::lock_guard<std::mutex> g(ports_lock_);
        auto it = ports_.find(port);
        return it != ports_.end() && it->second.at_once;
    }

    // "\\.\COM5" and "COM5" are both port COM5.
    static std::string port_name(const std::string& device) {
        const std::size_t slash = device.find_last_of('\\');
        return slash == std::string::npos ? device : device.substr(slash + 1);
    }

    // Setting the mask forgets earlier changes; the next wait starts from
    // the lines as they are now. A port whose lines cannot be read waits as
    // Wine does.
    void remember_lines(HANDLE port, DWORD ev_mask) {
        auto now = modem_word(port);
        RememberedLines* lines = now ? memory_.claim(port) : nullptr;
        if (!lines) {
            memory_.forget(port);
            return;
        }
        lines->mask = ev_mask;
        lines->seen = *now;
    }

    const bool wine_ = running_under_wine();
    LineMemory memory_;
    std::mutex ports_lock_;
    std::map<HANDLE, OpenPort> ports_;  // every handle open() gave
};

}  // namespace

std::unique_ptr<SerialPorts> make_serial() { return std::make_unique<Win32Serial>(); }

}  // namespace qn::platform::win32
