// Serial ports through the Linux tty layer: termios for the line settings,
// poll() for the read time-outs, TIOCMGET/TIOCMIWAIT for the modem lines.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

// The modem lines, and (where the driver counts them) how often each has
// changed: the counts tell which line moved even when a short pulse is over
// before the status can be read.
struct LineSnapshot {
    int status = 0;
    bool have_counts = false;
    serial_icounter_struct counts{};
};

struct PosixSerial::Port {
    std::atomic<int> fd{-1};
    std::string path;
    std::mutex lock;  // guards what follows
    Timeouts timeouts;
    // Not under the lock, which the waiting thread therefore never takes: a
    // suspension could leave it held.
    std::atomic<std::uint32_t> mask{0};
    LineSettings last;  // for the fields termios does not hold (XON/XOFF limits)
    // The lines as the last wait (or the setting of the mask) left them, so
    // a change made between two waits is reported by the next one, as the
    // Windows driver does. Only the waiting thread touches it.
    LineSnapshot seen;
    bool have_seen = false;
};

namespace {

using Port = PosixSerial::Port;

Port* port(PortHandle h) { return reinterpret_cast<Port*>(h); }

// The open descriptor, or -1 for a null or closed handle.
int port_fd(PortHandle h) { return h == 0 ? -1 : port(h)->fd.load(); }

Error bad_handle(const char* call) { return fail(errno_text(call, EBADF)); }

struct Speed {
    std::uint32_t baud;
    speed_t code;
};
constexpr Speed kSpeeds[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::int64_t now_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

Result<LineSnapshot> snapshot(int fd) {
    LineSnapshot s;
    if (::ioctl(fd, TIOCMGET, &s.status) != 0) return fail(errno_text("ioctl(TIOCMGET)", errno));
    s.have_counts = ::ioctl(fd, TIOCGICOUNT, &s.counts) == 0;
    return s;
}

struct LineEvent {
    std::uint32_t ev;
    int tiocm;
};
constexpr LineEvent kLineEvents[] = {
    {kEventCts, TIOCM_CTS}, {kEventDsr, TIOCM_DSR}, {kEventCd, TIOCM_CD}, {kEventRi, TIOCM_RI}};

int count_of(const serial_icounter_struct& c, int tiocm) {
    switch (tiocm) {
        case TIOCM_CTS: return c.cts;
        case TIOCM_DSR: return c.dsr;
        case TIOCM_CD: return c.dcd;
        default: return c.rng;
    }
}

std::uint32_t changed_events(const LineSnapshot& a, const LineSnapshot& b, std::uint32_t mask) {
    std::uint32_t ev = 0;
    bool counted = a.have_counts && b.have_counts;
    for (const LineEvent& l : kLineEvents) {
        if (!(mask & l.ev)) continue;
        bool moved = counted ? count_of(a.counts, l.tiocm) != count_of(b.counts, l.tiocm)
                             : ((a.status ^ b.status) & l.tiocm) != 0;
        if (moved) ev |= l.ev;
    }
    return ev;
}

// Waits until fd is readable or the deadline (CLOCK_MONOTONIC ns, -1: none)
// passes. 1 readable (or hung up: the read tells), 0 time-out, -1 error.
int wait_readable(int fd, std::int64_t deadline) {
    for (;;) {
        pollfd pfd{fd, POLLIN, 0};
        timespec ts{};
        timespec* timeout = nullptr;
        if (deadline >= 0) {
            std::int64_t left = std::max<std::int64_t>(0, deadline - now_ns());
            ts.tv_sec = left / 1000000000;
            ts.tv_nsec = left % 1000000000;
            timeout = &ts;
        }
        int rc = ::ppoll(&pfd, 1, timeout, nullptr);
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return -1;
        if (rc == 0) return 0;
        if (pfd.revents & POLLNVAL) {
            errno = EBADF;
            return -1;
        }
        return 1;
    }
}

}  // namespace

// ---- opening and closing ---------------------------------------------------------

PosixSerial::PosixSerial() = default;
PosixSerial::~PosixSerial() = default;

Result<PortHandle> PosixSerial::open(const std::string& device) {
    std::string path = device_path(device);
    // O_NONBLOCK: without CLOCAL an open would wait for the carrier line.
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return fail(errno_text("open(" + path + ")", errno));
    // The lock is what keeps other programs (and a second open of ours) out;
    // TIOCEXCL adds the tty layer's own bar, which root passes through. Take
    // the lock first, or a failed open would change a port someone else has.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) return fail("flock(" + path + "): the port is already open");
        return fail(errno_text("flock(" + path + ")", err));
    }
    termios t{};
    if (!isatty(fd) || ::tcgetattr(fd, &t) != 0) {
        int err = isatty(fd) ? errno : ENOTTY;
        ::close(fd);
        return fail(errno_text("tcgetattr(" + path + ")", err));
    }
    // A Windows port has no line discipline: raw from the start, whatever
    // the last user left behind.
    cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const char* failed = nullptr;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) failed = "tcsetattr";
    else if (::ioctl(fd, TIOCEXCL) != 0) failed = "ioctl(TIOCEXCL)";
    else if (::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) failed = "fcntl";
    if (failed != nullptr) {
        int err = errno;
        ::close(fd);
        return fail(errno_text(std::string(failed) + "(" + path + ")", err));
    }
    std::lock_guard<std::mutex> g(lock_);
    ports_.push_back(std::make_unique<Port>());
    Port* p = ports_.back().get();
    p->path = path;
    p->fd.store(fd);
    return reinterpret_cast<PortHandle>(p);
}

void PosixSerial::close(PortHandle h) {
    if (h == 0) return;
    int fd = port(h)->fd.exchange(-1);
    if (fd < 0) return;
    // Exclusive mode outlives the descriptor on a pty, whose tty stays while
    // the other side is open.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
}

// ---- line settings -------------------------------------------------------------

Result<LineSettings> PosixSerial::get_state(PortHandle h) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("tcgetattr");
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return fail(errno_text("tcgetattr", errno));
    LineSettings s;
    {
        std::lock_guard<std::mutex> g(port(h)->lock);
        s = port(h)->last;
    }
    speed_t code = cfgetospeed(&t);
    s.baud = 0;
    for (const Speed& sp : kSpeeds)
        if (sp.code == code) s.baud = sp.baud;
    switch (t.c_cflag & CSIZE) {
        case CS5: s.data_bits = 5; break;
        case CS6: s.data_bits = 6; break;
        case CS7: s.data_bits = 7; break;
        default: s.data_bits = 8; break;
    }
    s.parity = !(t.c_cflag & PARENB) ? Parity::None : (t.c_cflag & PARODD) ? Parity::Odd : Parity::Even;
    if (!(t.c_cflag & CSTOPB)) s.stop_bits = StopBits::One;
    else if (s.stop_bits == StopBits::One) s.stop_bits = StopBits::Two;
    s.outx_cts_flow = (t.c_cflag & CRTSCTS) != 0;
    s.outx_dsr_flow = false;
    s.outx = (t.c_iflag & IXON) != 0;
    s.inx = (t.c_iflag & IXOFF) != 0;
    s.xon_char = static_cast<char>(t.c_cc[VSTART]);
    s.xoff_char = static_cast<char>(t.c_cc[VSTOP]);
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) == 0) {  // a pty has no modem lines: keep what was set
        s.dtr_control = (lines & TIOCM_DTR) ? LineControl::Enable : LineControl::Disable;
        s.rts_control = (t.c_cflag & CRTSCTS) ? LineControl::Handshake
                        : (lines & TIOCM_RTS) ? LineControl::Enable
                                              : LineControl::Disable;
    }
    return s;
}

namespace {

Result<void> to_termios(const LineSettings& s, termios& t) {
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    switch (s.data_bits) {
        case 5: t.c_cflag |= CS5; break;
        case 6: t.c_cflag |= CS6; break;
        case 7: t.c_cflag |= CS7; break;
        case 8: t.c_cflag |= CS8; break;
        default: return fail("tcsetattr: " + std::to_string(s.data_bits) + " data bits: invalid");
    }
    if (s.parity != Parity::None) t.c_cflag |= PARENB | INPCK;
    if (s.parity == Parity::Odd) t.c_cflag |= PARODD;
    if (s.stop_bits != StopBits::One) t.c_cflag |= CSTOPB;  // 1.5 exists only for 5 bits
    // Linux ties CTS output flow control and RTS handshaking into one flag and
    // has none for DSR or DTR.
    if (s.outx_cts_flow || s.rts_control == LineControl::Handshake) t.c_cflag |= CRTSCTS;
    if (s.outx_dsr_flow) return not_supported("tcsetattr: DSR output flow control");
    if (s.dtr_control == LineControl::Handshake) return not_supported("tcsetattr: DTR handshaking");
    if (s.outx) t.c_iflag |= IXON;
    if (s.inx) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(s.xon_char);
    t.c_cc[VSTOP] = static_cast<cc_t>(s.xoff_char);
    // Reads never block in the driver: read() waits with poll() itself.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    const Speed* sp = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                   [&](const Speed& x) { return x.baud == s.baud; });
    if (sp == std::end(kSpeeds))
        return fail("cfsetspeed: " + std::to_string(s.baud) + " bit/s: not a termios speed");
    cfsetispeed(&t, sp->code);
    cfsetospeed(&t, sp->code);
    return {};
}

// A pty and some adapters have no modem control outputs: the driver answers
// ENOTTY or EINVAL, and the line settings themselves still hold.
Result<void> set_output_line(int fd, LineControl c, int line, const char* bis, const char* bic) {
    if (c == LineControl::Handshake) return {};
    bool on = c == LineControl::Enable;
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return {};
    if (errno == ENOTTY || errno == EINVAL) return {};
    return fail(errno_text(on ? bis : bic, errno));
}

}  // namespace

Result<void> PosixSerial::set_state(PortHandle h, const LineSettings& s) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("tcsetattr");
    termios t{};
    if (::tcgetattr(fd, &t) != 0) return fail(errno_text("tcgetattr", errno));
    if (auto r = to_termios(s, t); !r) return r;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return fail(errno_text("tcsetattr", errno));
    // RTS before DTR, the order the sensors' power has always come up in.
    if (auto r = set_output_line(fd, s.rts_control, TIOCM_RTS, "ioctl(TIOCMBIS)", "ioctl(TIOCMBIC)"); !r)
        return r;
    if (auto r = set_output_line(fd, s.dtr_control, TIOCM_DTR, "ioctl(TIOCMBIS)", "ioctl(TIOCMBIC)"); !r)
        return r;
    std::lock_guard<std::mutex> g(port(h)->lock);
    port(h)->last = s;
    return {};
}

Result<Timeouts> PosixSerial::get_timeouts(PortHandle h) {
    if (port_fd(h) < 0) return bad_handle("get_timeouts");
    std::lock_guard<std::mutex> g(port(h)->lock);
    return port(h)->timeouts;
}

Result<void> PosixSerial::set_timeouts(PortHandle h, const Timeouts& t) {
    if (port_fd(h) < 0) return bad_handle("set_timeouts");
    std::lock_guard<std::mutex> g(port(h)->lock);
    port(h)->timeouts = t;
    return {};
}

// ---- modem lines ------------------------------------------------------------------

Result<void> PosixSerial::set_mask(PortHandle h, std::uint32_t ev_mask) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("set_mask");
    port(h)->mask.store(ev_mask);
    // Setting the mask forgets earlier changes.
    auto now = snapshot(fd);
    port(h)->have_seen = now.ok();
    if (now.ok()) port(h)->seen = now.value();
    return {};
}

Result<std::uint32_t> PosixSerial::wait_event(PortHandle h) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("ioctl(TIOCMIWAIT)");
    std::uint32_t mask = port(h)->mask.load();
    int lines = 0;
    for (const LineEvent& l : kLineEvents)
        if (mask & l.ev) lines |= l.tiocm;
    if (lines == 0) return fail("ioctl(TIOCMIWAIT): no modem line in the event mask");
    auto current = snapshot(fd);
    if (!current) return fail(current.error());
    Port& p = *port(h);
    const LineSnapshot before = p.have_seen ? p.seen : current.value();
    // A change since the last wait is reported at once: a thread that was
    // busy with the previous change must not miss the next one.
    if (std::uint32_t pending = changed_events(before, current.value(), mask)) {
        p.seen = current.value();
        p.have_seen = true;
        return pending;
    }
    for (;;) {
        if (::ioctl(fd, TIOCMIWAIT, lines) == 0) break;
        if (errno != EINTR) return fail(errno_text("ioctl(TIOCMIWAIT)", errno));
        // Interrupted (a suspend, say): a change made meanwhile is the event;
        // a new TIOCMIWAIT would only see the next one.
        auto now = snapshot(fd);
        if (!now) return fail(now.error());
        if (changed_events(before, *now, mask) != 0) break;
    }
    auto after = snapshot(fd);
    if (!after) return fail(after.error());
    std::uint32_t ev = changed_events(before, *after, mask);
    // One change per line is reported now. A pulse whose second edge came
    // before the lines were read has its return still to report, as the
    // Windows driver would on the next wait: with counts, only one change of
    // each reported line counts as seen.
    p.seen = after.value();
    if (before.have_counts && after.value().have_counts) {
        for (const LineEvent& l : kLineEvents) {
            if (!(ev & l.ev)) continue;
            int* cnt = l.tiocm == TIOCM_CTS ? &p.seen.counts.cts
                     : l.tiocm == TIOCM_DSR ? &p.seen.counts.dsr
                     : l.tiocm == TIOCM_CD  ? &p.seen.counts.dcd
                                            : &p.seen.counts.rng;
            *cnt = count_of(before.counts, l.tiocm) + 1;
        }
    }
    p.have_seen = true;
    // Without counts a pulse can be over before the status is read; a change
    // was reported, so every watched line may have been it.
    if (ev == 0) ev = mask & (kEventCts | kEventDsr | kEventCd | kEventRi);
    return ev;
}

Result<std::uint32_t> PosixSerial::modem_status(PortHandle h) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("ioctl(TIOCMGET)");
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) != 0) return fail(errno_text("ioctl(TIOCMGET)", errno));
    std::uint32_t ms = 0;
    if (lines & TIOCM_CTS) ms |= kLineCts;
    if (lines & TIOCM_DSR) ms |= kLineDsr;
    if (lines & TIOCM_RI) ms |= kLineRi;
    if (lines & TIOCM_CD) ms |= kLineCd;
    return ms;
}

// ---- data ----------------------------------------------------------------------------

// COMMTIMEOUTS as ReadFile applies them: interval MAXDWORD with no total
// returns at once; interval and multiplier MAXDWORD with a constant waits that
// long for the first byte only; otherwise the total (multiplier x bytes +
// constant, none if both are 0) bounds the whole read and the interval bounds
// the gap after each byte.
Result<std::uint32_t> PosixSerial::read(PortHandle h, char* buf, std::uint32_t max) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("read");
    Timeouts t;
    {
        std::lock_guard<std::mutex> g(port(h)->lock);
        t = port(h)->timeouts;
    }
    const std::uint32_t kMax = kTimeoutMax;
    bool at_once = t.read_interval == kMax && t.read_total_multiplier == 0 && t.read_total_constant == 0;
    bool first_byte = t.read_interval == kMax && t.read_total_multiplier == kMax &&
                      t.read_total_constant > 0 && t.read_total_constant < kMax;
    std::int64_t total_ms = first_byte ? t.read_total_constant
                                       : std::int64_t{t.read_total_multiplier} * max + t.read_total_constant;
    bool has_total = at_once || first_byte || total_ms > 0;
    std::int64_t start = now_ns();
    std::int64_t deadline = has_total ? start + total_ms * 1000000 : -1;
    bool interval = t.read_interval != 0 && t.read_interval != kMax;

    std::uint32_t got = 0;
    while (got < max) {
        std::int64_t until = deadline;
        if (got > 0 && first_byte) break;
        if (got > 0 && interval) {
            std::int64_t gap_end = now_ns() + std::int64_t{t.read_interval} * 1000000;
            until = until < 0 ? gap_end : std::min(until, gap_end);
        }
        int ready = wait_readable(fd, until);
        if (ready < 0) return fail(errno_text("ppoll", errno));
        if (ready == 0) break;
        ssize_t n = ::read(fd, buf + got, max - got);
        if (n > 0) {
            got += static_cast<std::uint32_t>(n);
        } else if (n == 0) {
            // Readable yet nothing to read: the other end has hung up.
            if (got > 0) break;
            return fail(errno_text("read", EIO));
        } else if (errno != EINTR && errno != EAGAIN) {
            return fail(errno_text("read", errno));
        }
    }
    return got;
}

Result<void> PosixSerial::purge(PortHandle h, std::uint32_t flags) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("tcflush");
    bool rx = flags & (kPurgeRxAbort | kPurgeRxClear);
    bool tx = flags & (kPurgeTxAbort | kPurgeTxClear);
    if (!rx && !tx) return {};
    int queue = rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH;
    if (::tcflush(fd, queue) != 0) return fail(errno_text("tcflush", errno));
    return {};
}

Result<void> PosixSerial::flush(PortHandle h) {
    int fd = port_fd(h);
    if (fd < 0) return bad_handle("tcdrain");
    while (::tcdrain(fd) != 0) {
        if (errno != EINTR) return fail(errno_text("tcdrain", errno));
    }
    return {};
}

int PosixSerial::poll_fd(PortHandle h) { return port_fd(h); }

}  // namespace qn::platform::posix
