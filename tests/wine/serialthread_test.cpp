// Modem-line waits on the real Win32 calls, and the program's serial status
// thread on top of them. The driver script preloads the modem shim into Wine
// and gives a port whose lines it plays from a timeline:
//   QN_TEST_SHIM_COM       the port (COM6), a pty the shim gives CTS, DSR, CD, RI
//   QN_TEST_SHIM_TIMELINE  the timeline file, for "+<us> <TIOCM_ word>" lines
//                          (a Windows program cannot read CLOCK_MONOTONIC)
//   QN_TEST_REALTIME       1 when Wine runs with real-time scheduling
// The shared header comes first: it brings the platform headers, which must
// come before <windows.h> (see wine_support.h).
#include "shim/serialthread_timeline.h"
#include "wine_support.h"

#include <atomic>
#include <memory>
#include <thread>

namespace qn::wine_test {
namespace {

using platform::PortHandle;

constexpr int kCts = shimtest::kTiocmCts;

class Win32SerialShim : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = env("QN_TEST_SHIM_COM");
        timeline_ = env("QN_TEST_SHIM_TIMELINE");
        if (name_.empty() || timeline_.empty())
            GTEST_SKIP() << "needs QN_TEST_SHIM_COM and QN_TEST_SHIM_TIMELINE (scripts/wine-tests "
                            "sets them when the modem shim is built)";
        append("+0 0\n");  // every line off, whatever the last test left
    }
    void TearDown() override {
        if (port_) serial().close(port_);
    }

    static platform::SerialPorts& serial() { return *plat().serial; }

    void open_port() {
        auto h = serial().open("\\\\.\\" + name_);
        ASSERT_TRUE(h.ok()) << h.error();
        port_ = h.value();
    }

    // One write, so the shim takes the lines in together.
    void append(const std::string& text) {
        HANDLE f = CreateFileA(timeline_.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(f, INVALID_HANDLE_VALUE) << "cannot open " << timeline_;
        DWORD n = 0;
        BOOL ok = WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &n, nullptr);
        CloseHandle(f);
        ASSERT_TRUE(ok && n == text.size());
    }

    std::string name_, timeline_;
    PortHandle port_ = 0;
};

// Runs body on a thread of its own; false when it is not over within
// timeout_ms (the thread is then left behind, holding only what it owns).
bool finishes(std::function<void()> body, DWORD timeout_ms = 5000) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread t([body = std::move(body), done] {
        body();
        done->store(true);
    });
    DWORD end = GetTickCount() + timeout_ms;
    while (!done->load() && static_cast<LONG>(end - GetTickCount()) > 0) Sleep(5);
    if (!done->load()) {
        t.detach();
        return false;
    }
    t.join();
    return true;
}

// ---- waits --------------------------------------------------------------------

// Windows keeps the changes made since the last wait, and the status thread
// relies on it: the next wait reports them at once. Wine does not, and the
// serial service makes up for it.
TEST_F(Win32SerialShim, AChangeMadeBetweenTwoWaitsIsReportedByTheNext) {
    open_port();
    ASSERT_TRUE(serial().set_mask(port_, EV_CTS).ok());
    // The last change ends the last wait even where the first was lost. The
    // changes are far enough apart that each read below falls between the
    // same two changes even when a busy machine wakes this thread 100 ms late.
    append(shimtest::relative_entries({{50000, kCts}, {300000, 0}, {800000, kCts}, {1100000, 0}}));
    auto on = serial().wait_event(port_);
    ASSERT_TRUE(on.ok()) << on.error();
    EXPECT_EQ(on.value(), static_cast<std::uint32_t>(EV_CTS));
    EXPECT_EQ(serial().modem_status(port_).value_or(0), static_cast<std::uint32_t>(MS_CTS_ON));

    Sleep(400);  // CTS goes off meanwhile, with nobody waiting
    auto off = serial().wait_event(port_);
    ASSERT_TRUE(off.ok()) << off.error();
    EXPECT_EQ(off.value(), static_cast<std::uint32_t>(EV_CTS));
    // The change reported is the one made between the waits, not the next.
    EXPECT_EQ(serial().modem_status(port_).value_or(99), 0u);

    auto next = serial().wait_event(port_);
    ASSERT_TRUE(next.ok()) << next.error();
    EXPECT_EQ(serial().modem_status(port_).value_or(0), static_cast<std::uint32_t>(MS_CTS_ON));
    Sleep(400);  // the last change passes before the next test
}

TEST_F(Win32SerialShim, AWaitBlockedOnOneThreadHoldsUpNoOtherCall) {
    open_port();
    ASSERT_TRUE(serial().set_mask(port_, EV_CTS).ok());
    struct Shared {
        std::atomic<bool> returned{false};
        platform::Result<std::uint32_t> result{platform::fail("not yet")};
    };
    auto shared = std::make_shared<Shared>();
    PortHandle port = port_;
    std::thread waiter([shared, port] {
        shared->result = serial().wait_event(port);
        shared->returned = true;
    });
    // A failed assertion must not leave a joinable thread behind; the
    // waiter holds only what it owns.
    struct Detach {
        std::thread& t;
        ~Detach() {
            if (t.joinable()) t.detach();
        }
    } detach{waiter};
    Sleep(100);
    ASSERT_FALSE(shared->returned.load()) << "no line moved, yet the wait returned";

    EXPECT_TRUE(finishes([port] { serial().purge(port, PURGE_TXABORT | PURGE_TXCLEAR); }));
    EXPECT_TRUE(finishes([port] { serial().flush(port); }));
    EXPECT_TRUE(finishes([port] { serial().modem_status(port); }));
    EXPECT_FALSE(shared->returned.load());

    EXPECT_TRUE(finishes([port] { serial().close(port); })) << "closing hung behind the wait";
    port_ = 0;
    ASSERT_TRUE(finishes([shared] {
        while (!shared->returned.load()) Sleep(5);
    })) << "the wait went on after its port was closed";
    waiter.join();
    EXPECT_FALSE(shared->result.ok()) << "a wait ended by closing the port must not report a change";
    EXPECT_TRUE(names_call(shared->result.error(), "WaitCommEvent"));
}

// ---- the program's status thread ------------------------------------------------

TEST_F(Win32SerialShim, TheStatusThreadRecordsPulsesAndOmitsATransient) {
    open_port();
    const auto changes = shimtest::cts_timeline();
    shimtest::RingRecord ring;
    auto& rig = shimtest::leaked_program();
    Program& program = *rig.program;
    program.cfg.use_line[ModemLine::Cts] = true;
    program.cfg.transient_ms = 2;
    program.sensing.start_thread(port_, program.cfg.use_line);
    ASSERT_TRUE(pump_until([&] { return program.sensing.thread_running(); }));

    append(shimtest::relative_entries(changes));
    pump_until([&] { return program.event_ring.recorded() >= 10 && program.event_ring.omitted_count() >= 1; });
    Sleep(100);  // room for events that should not come
    ring = shimtest::read_ring(program);

    // The thread has no stop: the flag ends its loop at the next line change.
    program.sensing.thread()->end();
    append(shimtest::relative_entry(10000, kCts));
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(program.sensing.thread()->os_thread()), 5000), WAIT_OBJECT_0);
    // Wine sees a line change by polling on a thread of its own: precisely,
    // 2 ms with real-time scheduling, 20 ms without.
    shimtest::expect_ring_follows(ring, changes, env("QN_TEST_REALTIME") == "1" ? 2000 : 20000);
    if (HasFailure()) ADD_FAILURE() << "run log:\n" << rig.log();
}

}  // namespace
}  // namespace qn::wine_test
