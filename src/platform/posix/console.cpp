// The console on an ANSI terminal. The screen is drawn on the alternate
// screen with the cursor hidden; keys are read raw, so Ctrl-C arrives as key 3
// and cursor and function keys, which a terminal sends as escape sequences,
// come back as 0 followed by their PC scan code, as a Windows console gives
// them.
//
// Whatever ends the process (a return from main, Process::exit, a fatal or
// terminating signal) gives the terminal back first; a shell left in raw mode
// without echo looks dead to the user.
#include "platform/posix/posix_console.h"

#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/ansi.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

constexpr char kEnterScreen[] = "\x1b[?1049h\x1b[?25l\x1b[2J";
constexpr char kLeaveScreen[] = "\x1b[0m\x1b[?25h\x1b[?1049l";

// How long the rest of an escape sequence may take to follow its ESC; after
// that the ESC was the Esc key itself.
constexpr int kEscapeFollowMs = 30;

// What restore_terminal() needs, kept where a signal handler can reach it.
struct TerminalState {
    std::atomic<int> active{0};
    int in_fd = -1;
    int out_fd = -1;
    bool have_termios = false;
    termios saved{};
};
TerminalState g_term;

// Every signal whose default action ends the process, except the two user
// signals, which are left to whoever wants them. SIGPIPE is among them:
// output piped into a program that ends must not leave the keyboard raw.
constexpr int kSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGSEGV, SIGABRT, SIGBUS,
                            SIGFPE,  SIGILL,  SIGTRAP, SIGSYS,  SIGPIPE, SIGALRM, SIGXCPU,
                            SIGXFSZ, SIGVTALRM, SIGPROF};
struct sigaction g_previous[NSIG];

void write_all_raw(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                pollfd pfd{fd, POLLOUT, 0};
                ::poll(&pfd, 1, 100);
                continue;
            }
            return;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
}

void on_signal(int sig) {
    int saved_errno = errno;
    restore_terminal();
    // Then whatever would have happened without us: normally the default
    // action, which ends the process with this signal.
    sigaction(sig, &g_previous[sig], nullptr);
    raise(sig);
    errno = saved_errno;
}

void install_exit_hooks() {
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit(restore_terminal);
        for (int sig : kSignals) {
            struct sigaction old {};
            sigaction(sig, nullptr, &old);
            // A signal the parent told us to ignore (nohup) stays ignored.
            if (old.sa_handler == SIG_IGN && !(old.sa_flags & SA_SIGINFO)) continue;
            g_previous[sig] = old;
            struct sigaction sa {};
            sa.sa_handler = on_signal;
            sigemptyset(&sa.sa_mask);
            sigaction(sig, &sa, nullptr);
        }
    });
}

// Counts the terminal's resizes (SIGWINCH), so size() asks again only then.
std::atomic<int> g_resizes{0};

void on_resize(int) { g_resizes.fetch_add(1); }

void install_resize_hook() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction sa {};
        sa.sa_handler = on_resize;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &sa, nullptr);
    });
}

termios raw_mode(termios t) {
    t.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                        ICRNL | IXON);
    t.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return t;
}

}  // namespace

void restore_terminal() {
    if (g_term.active.exchange(0) == 0) return;
    if (g_term.have_termios) tcsetattr(g_term.in_fd, TCSANOW, &g_term.saved);
    write_all_raw(g_term.out_fd, kLeaveScreen, sizeof kLeaveScreen - 1);
}

Result<void> PosixConsole::open(int /*rows*/, int /*cols*/) {
    // The terminal keeps the size its user gave it; the screen is drawn in
    // its top-left rows x cols.
    restore_terminal();
    install_exit_hooks();
    install_resize_hook();
    size_known_ = false;
    g_term.in_fd = in_fd_;
    g_term.out_fd = out_fd_;
    g_term.have_termios = false;
    if (isatty(in_fd_)) {
        if (tcgetattr(in_fd_, &g_term.saved) != 0) return fail(errno_text("tcgetattr", errno));
        termios raw = raw_mode(g_term.saved);
        if (tcsetattr(in_fd_, TCSANOW, &raw) != 0) return fail(errno_text("tcsetattr", errno));
        g_term.have_termios = true;
    }
    g_term.active.store(1);
    write_all_raw(out_fd_, kEnterScreen, sizeof kEnterScreen - 1);
    return {};
}

void PosixConsole::close() {
    out_.clear();
    restore_terminal();
}

void PosixConsole::write_cells(int row, int col, const ConsoleCell* cells, int count) {
    out_ += ansi::cells(row, col, cells, count);
}

void PosixConsole::set_cursor(int row, int col, bool visible) {
    out_ += ansi::cursor(row, col, visible);
}

ConsoleSize PosixConsole::size() {
    const int resizes = g_resizes.load();
    if (size_known_ && resizes == resizes_seen_) return size_;
    size_known_ = true;
    resizes_seen_ = resizes;
    winsize ws{};
    size_ = ::ioctl(out_fd_, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0
                ? ConsoleSize{ws.ws_row, ws.ws_col}
                : ConsoleSize{};
    return size_;
}

void PosixConsole::present() {
    write_all_raw(out_fd_, out_.data(), out_.size());
    out_.clear();
}

// ---- keys ----------------------------------------------------------------------

// Reads what is there, waiting up to timeout_ms (-1: for ever) for something.
bool PosixConsole::fill(int timeout_ms) {
    if (in_eof_) return false;
    pollfd pfd{in_fd_, POLLIN, 0};
    int rc = ::poll(&pfd, 1, timeout_ms);
    if (rc < 0 && errno == EINTR) return false;
    if (rc <= 0) return false;
    std::uint8_t buf[64];
    ssize_t n = ::read(in_fd_, buf, sizeof buf);
    if (n < 0) {
        // A terminal that has hung up fails its reads with EIO: it has ended.
        if (errno != EINTR && errno != EAGAIN) in_eof_ = true;
        return false;
    }
    if (n == 0) {
        in_eof_ = true;
        return false;
    }
    raw_.insert(raw_.end(), buf, buf + n);
    return true;
}

int PosixConsole::next_byte(int timeout_ms) {
    if (raw_.empty()) {
        if (timeout_ms >= 0) fill(timeout_ms);
        else while (raw_.empty() && !in_eof_) fill(-1);
    }
    if (raw_.empty()) return in_eof_ ? kEof : kTimeout;
    int b = raw_.front();
    raw_.pop_front();
    return b;
}

bool PosixConsole::key_waiting() {
    if (!keys_.empty() || !raw_.empty()) return true;
    fill(0);
    return !raw_.empty();
}

bool PosixConsole::input_ended() {
    if (!in_eof_ && keys_.empty() && raw_.empty()) fill(0);
    return in_eof_ && keys_.empty() && raw_.empty();
}

int PosixConsole::read_key() {
    if (!keys_.empty()) {
        int k = keys_.front();
        keys_.pop_front();
        return k;
    }
    int b = next_byte(-1);
    while (b == kEof) {
        // The keys came from a pipe that is now closed: no key will ever come.
        // Waiting keeps the program where it is until it is told to end.
        ::pause();
    }
    if (b == 0x7F) return 8;  // terminals send DEL for Backspace
    if (b == 0) return extended(scan::Unknown);  // Ctrl-Space, Ctrl-@: 0 alone would wait for a second code
    if (b != 0x1B) return b;
    return decode_escape();
}

int PosixConsole::extended(int code) {
    keys_.push_back(code);
    return 0;
}

int PosixConsole::decode_escape() {
    int b = next_byte(kEscapeFollowMs);
    if (b < 0) return 27;
    if (b == 'O') {  // SS3: cursor keys in application mode, F1..F4
        int f = next_byte(kEscapeFollowMs);
        if (f < 0) {
            keys_.push_back('O');
            return 27;
        }
        switch (f) {
            case 'A': return extended(scan::Up);
            case 'B': return extended(scan::Down);
            case 'C': return extended(scan::Right);
            case 'D': return extended(scan::Left);
            case 'H': return extended(scan::Home);
            case 'F': return extended(scan::End);
            case 'P': case 'Q': case 'R': case 'S': return extended(scan::F1 + (f - 'P'));
            default: return extended(scan::Unknown);
        }
    }
    if (b == '[') return decode_csi();
    // Esc followed by an ordinary key (or Alt+key): both count.
    keys_.push_back(b == 0x7F ? 8 : b);
    return 27;
}

// ESC [ has been read: parameters, then one final byte.
int PosixConsole::decode_csi() {
    int b = next_byte(kEscapeFollowMs);
    if (b < 0) {
        keys_.push_back('[');
        return 27;
    }
    if (b == '[') {  // the Linux console's F1..F5: ESC [ [ A..E
        int f = next_byte(kEscapeFollowMs);
        if (f >= 'A' && f <= 'E') return extended(scan::F1 + (f - 'A'));
        return extended(scan::Unknown);
    }
    int first = 0;        // the first numeric parameter
    bool in_first = true;
    for (int length = 0; (b >= '0' && b <= '9') || b == ';'; ++length) {
        if (b == ';') in_first = false;
        else if (in_first && first < 1000) first = first * 10 + (b - '0');
        if (length > 16) return extended(scan::Unknown);
        b = next_byte(kEscapeFollowMs);
        if (b < 0) return extended(scan::Unknown);
    }
    switch (b) {  // modifiers (ESC [ 1 ; 5 A) do not change the key
        case 'A': return extended(scan::Up);
        case 'B': return extended(scan::Down);
        case 'C': return extended(scan::Right);
        case 'D': return extended(scan::Left);
        case 'E': return extended(scan::Centre);
        case 'H': return extended(scan::Home);
        case 'F': return extended(scan::End);
        case 'P': case 'Q': case 'R': case 'S': return extended(scan::F1 + (b - 'P'));
        case '~': break;
        default: return extended(scan::Unknown);
    }
    switch (first) {
        case 1: case 7: return extended(scan::Home);
        case 4: case 8: return extended(scan::End);
        case 2: return extended(scan::Insert);
        case 3: return extended(scan::Delete);
        case 5: return extended(scan::PageUp);
        case 6: return extended(scan::PageDown);
        case 11: case 12: case 13: case 14: case 15: return extended(scan::F1 + (first - 11));
        case 17: case 18: case 19: case 20: case 21: return extended(scan::F1 + 5 + (first - 17));
        case 23: return extended(scan::kF11);
        case 24: return extended(scan::kF12);
        default: return extended(scan::Unknown);
    }
}

}  // namespace qn::platform::posix
