// The ANSI console on a pty: the test holds the terminal's side.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/ansi.h"
#include "platform/platform.h"
#include "platform/posix/posix_console.h"
#include "posix_test_util.h"

namespace {

using namespace qn::platform;
using qn::posixtest::ChildOptions;
using qn::posixtest::ChildRoutine;
using qn::posixtest::drain;
using qn::posixtest::now_us;
using qn::posixtest::PtyPair;
using qn::posixtest::run_child;

bool same_termios(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

void type(int master, const std::string& bytes) {
    ASSERT_EQ(::write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

std::vector<int> read_keys(Console& c, std::size_t n) {
    std::vector<int> keys;
    while (keys.size() < n) keys.push_back(c.read_key());
    return keys;
}

class PosixConsoleTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(tcgetattr(pty.slave, &before), 0); }
    void TearDown() override { console.close(); }
    PtyPair pty;
    termios before{};
    posix::PosixConsole console{pty.slave, pty.slave};
};

TEST_F(PosixConsoleTest, OpenTakesTheKeyboardRawAndCloseGivesTheTerminalBack) {
    ASSERT_TRUE(console.open(25, 80).ok());
    termios raw{};
    ASSERT_EQ(tcgetattr(pty.slave, &raw), 0);
    EXPECT_FALSE(raw.c_lflag & ICANON);
    EXPECT_FALSE(raw.c_lflag & ECHO);
    EXPECT_FALSE(raw.c_lflag & ISIG);
    EXPECT_FALSE(raw.c_iflag & ICRNL);
    EXPECT_FALSE(raw.c_iflag & IXON);
    EXPECT_EQ(raw.c_cc[VMIN], 1);
    std::string entered = drain(pty.master, 200);
    EXPECT_NE(entered.find("\x1b[?1049h"), std::string::npos);
    EXPECT_NE(entered.find("\x1b[?25l"), std::string::npos);

    console.close();
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
    EXPECT_TRUE(same_termios(before, after));
    std::string left = drain(pty.master, 200);
    EXPECT_NE(left.find("\x1b[?1049l"), std::string::npos);
    EXPECT_NE(left.find("\x1b[?25h"), std::string::npos);

    console.close();  // a second close changes nothing
    EXPECT_EQ(drain(pty.master, 50), "");
}

TEST_F(PosixConsoleTest, PresentWritesEverythingDrawnAtOnce) {
    ASSERT_TRUE(console.open(25, 80).ok());
    drain(pty.master, 100);
    ConsoleCell cells[3] = {{'Q', 0x1E}, {0x97, 0x1E}, {'!', 0x1F}};
    console.write_cells(2, 5, cells, 3);
    console.set_cursor(24, 0, false);
    EXPECT_EQ(drain(pty.master, 30), "");
    console.present();
    EXPECT_EQ(drain(pty.master, 200), ansi::cells(2, 5, cells, 3) + ansi::cursor(24, 0, false));
}

TEST_F(PosixConsoleTest, CursorAndFunctionKeysArriveAsZeroAndScanCode) {
    ASSERT_TRUE(console.open(25, 80).ok());
    EXPECT_FALSE(console.key_waiting());
    type(pty.master, "\x1b[A\x1b[B\x1b[C\x1b[D\x1b[H\x1b[F\x1b[1~\x1b[4~");
    type(pty.master, "\x1bOP\x1bOS\x1b[15~\x1b[17~\x1b[21~\x1b[[A\x1b[1;5A\x1b[99~");
    EXPECT_TRUE(console.key_waiting());
    std::vector<int> want = {0, 72, 0, 80, 0, 77, 0, 75, 0, 71, 0, 79, 0, 71, 0, 79,
                             0, 59, 0, 62, 0, 63, 0, 64, 0, 68, 0, 59, 0, 72, 0, 0};
    EXPECT_EQ(read_keys(console, want.size()), want);
    EXPECT_FALSE(console.key_waiting());
}

TEST_F(PosixConsoleTest, ControlKeysArriveAsTheirCodes) {
    ASSERT_TRUE(console.open(25, 80).ok());
    // Ctrl-Space sends NUL: a key of no use here, but a key whole (0 and its
    // code), so a reader of the second code does not wait for the next key.
    ASSERT_EQ(::write(pty.master, "\x03q\r\x7f\0zy", 7), 7);
    EXPECT_EQ(read_keys(console, 7), (std::vector<int>{3, 'q', 13, 8, 0, 0, 'z'}));
}

TEST_F(PosixConsoleTest, AnEscapeWithNothingAfterItIsTheEscKey) {
    ASSERT_TRUE(console.open(25, 80).ok());
    type(pty.master, "\x1b");
    std::int64_t t0 = now_us();
    EXPECT_EQ(console.read_key(), 27);
    EXPECT_GE(now_us() - t0, 25000);  // it waited for a sequence first
    EXPECT_FALSE(console.key_waiting());

    type(pty.master, "\x1bq");  // Esc, then a key typed too fast to tell apart
    EXPECT_EQ(read_keys(console, 2), (std::vector<int>{27, 'q'}));
}

TEST_F(PosixConsoleTest, ASequenceSplitAcrossReadsStillDecodes) {
    ASSERT_TRUE(console.open(25, 80).ok());
    type(pty.master, "\x1b[");
    std::thread rest([&] {
        usleep(5000);
        type(pty.master, "21~");
    });
    EXPECT_EQ(read_keys(console, 2), (std::vector<int>{0, 68}));
    rest.join();
}

// Not a terminal: the console still draws, and keys are the bytes that come.
// The terminal's size is asked again after a resize (SIGWINCH; the pty is
// not this process's terminal, so the test sends it).
TEST_F(PosixConsoleTest, MeasuresTheTerminalAndAgainAfterAResize) {
    winsize ws{5, 20, 0, 0};
    ASSERT_EQ(ioctl(pty.master, TIOCSWINSZ, &ws), 0);
    ASSERT_TRUE(console.open(25, 80).ok());
    EXPECT_EQ(console.size(), (ConsoleSize{5, 20}));
    ws = winsize{30, 100, 0, 0};
    ASSERT_EQ(ioctl(pty.master, TIOCSWINSZ, &ws), 0);
    EXPECT_EQ(console.size(), (ConsoleSize{5, 20}));  // not asked again without the signal
    raise(SIGWINCH);
    EXPECT_EQ(console.size(), (ConsoleSize{30, 100}));
}

TEST(PosixConsolePipes, WorksWithoutATerminal) {
    int in[2], out[2];
    ConsoleCell cell{'x', 0x1F};
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(pipe(out), 0);
    {
        posix::PosixConsole console(in[0], out[1]);
        ASSERT_TRUE(console.open(25, 80).ok());
        console.write_cells(0, 0, &cell, 1);
        console.present();
        ASSERT_EQ(::write(in[1], "a\x1b[A", 4), 4);
        ::close(in[1]);
        EXPECT_FALSE(console.input_ended());  // not before its keys are read
        EXPECT_EQ(read_keys(console, 3), (std::vector<int>{'a', 0, 72}));
        EXPECT_FALSE(console.key_waiting());  // the end of the input is not a key
        EXPECT_TRUE(console.input_ended());
        EXPECT_EQ(console.size(), ConsoleSize{});  // a pipe has no size
        console.close();
    }
    ::close(out[1]);
    std::string written = drain(out[0], 200);
    EXPECT_NE(written.find(ansi::cells(0, 0, &cell, 1)), std::string::npos);
    ::close(in[0]);
    ::close(out[0]);
}

// ---- every way the process can end gives the terminal back ---------------------

int console_exit_child() {
    rlimit no_core{0, 0};
    setrlimit(RLIMIT_CORE, &no_core);
    Platform& p = native_platform();
    if (!p.console->open(25, 80).ok()) return 90;
    std::string how = std::getenv("QN_TEST_HOW");
    if (how == "exit") p.process->exit(7);
    if (how == "return") return 5;  // std::exit and its atexit handlers
    if (how == "sigterm") raise(SIGTERM);
    if (how == "segv") raise(SIGSEGV);
    if (how == "abort") std::abort();
    return 91;
}
const ChildRoutine exit_child("console_exit", console_exit_child);

TEST_F(PosixConsoleTest, EveryWayOfEndingRestoresTheTerminal) {
    struct Case {
        const char* how;
        bool signalled;
        int code;
    };
    for (Case c : {Case{"exit", false, 7}, Case{"return", false, 5}, Case{"sigterm", true, SIGTERM},
                   Case{"segv", true, SIGSEGV}, Case{"abort", true, SIGABRT}}) {
        SCOPED_TRACE(c.how);
        ChildOptions o;
        o.env = {std::string("QN_TEST_HOW=") + c.how};
        o.stdin_fd = pty.slave;
        o.stdout_fd = pty.slave;
        auto child = run_child("console_exit", o);
        ASSERT_FALSE(child.timed_out);
        if (c.signalled) {
            ASSERT_TRUE(WIFSIGNALED(child.status)) << child.status;
            EXPECT_EQ(WTERMSIG(child.status), c.code);
        } else {
            ASSERT_TRUE(WIFEXITED(child.status)) << child.status;
            EXPECT_EQ(WEXITSTATUS(child.status), c.code);
        }
        termios after{};
        ASSERT_EQ(tcgetattr(pty.slave, &after), 0);
        EXPECT_TRUE(same_termios(before, after));
        std::string shown = drain(pty.master, 200);
        EXPECT_NE(shown.find("\x1b[?1049h"), std::string::npos);
        EXPECT_NE(shown.find("\x1b[?1049l"), std::string::npos);
    }
}

}  // namespace
