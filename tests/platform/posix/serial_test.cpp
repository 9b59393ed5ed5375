// Serial ports over a pty pair: the program's side is the slave, the test
// plays the device on the master. (A pty has no modem lines; shim_test.cpp
// gives it some.)
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>

#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"
#include "posix_test_util.h"
#include "timing_figures.h"

namespace {

using namespace qn::platform;
using qn::posixtest::now_us;
using qn::posixtest::PtyPair;
using qn::posixtest::TempDir;

LineSettings service_settings() {
    LineSettings s;
    s.baud = 2400;
    s.dtr_control = LineControl::Enable;
    s.rts_control = LineControl::Enable;
    return s;
}

class PosixSerialTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto h = serial.open("\\\\.\\" + pty.slave_path);
        ASSERT_TRUE(h.ok()) << h.error();
        port = h.value();
    }
    void TearDown() override { serial.close(port); }

    void send(const std::string& bytes) {
        ASSERT_EQ(::write(pty.master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
    // A pty hands written bytes to the other side on a kernel worker, which
    // a busy machine can hold up for milliseconds: waits until n are there.
    bool arrived(int n) {
        for (std::int64_t give_up = now_us() + 2000000; now_us() < give_up; usleep(1000)) {
            int queued = 0;
            if (ioctl(pty.slave, FIONREAD, &queued) == 0 && queued >= n) return true;
        }
        return false;
    }

    PtyPair pty;
    posix::PosixSerial serial;
    PortHandle port = 0;
};

TEST_F(PosixSerialTest, APortOpensOnceAtATime) {
    int excl = 0;
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);
    auto second = serial.open("\\\\.\\" + pty.slave_path);
    ASSERT_FALSE(second.ok());
    EXPECT_EQ(second.error(), "flock(" + pty.slave_path + "): the port is already open");

    serial.close(port);
    ASSERT_EQ(ioctl(pty.slave, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 0);  // others may open it again
    auto again = serial.open(pty.slave_path);
    ASSERT_TRUE(again.ok()) << again.error();
    port = again.value();

    auto absent = serial.open("\\\\.\\ttyQN99");
    ASSERT_FALSE(absent.ok());
    EXPECT_EQ(absent.error(), "open(/dev/ttyQN99): No such file or directory");
}

TEST_F(PosixSerialTest, LineSettingsBecomeARawTermios) {
    auto set = serial.set_state(port, service_settings());
    ASSERT_TRUE(set.ok()) << set.error();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.slave, &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B2400));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(t.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_FALSE(t.c_oflag & OPOST);

    auto got = serial.get_state(port);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value().baud, 2400u);
    EXPECT_EQ(got.value().data_bits, 8);
    EXPECT_EQ(got.value().parity, Parity::None);
    EXPECT_EQ(got.value().stop_bits, StopBits::One);
    EXPECT_EQ(got.value().dtr_control, LineControl::Enable);

    LineSettings odd = service_settings();
    odd.baud = 9600;
    odd.data_bits = 7;
    odd.parity = Parity::Even;
    odd.stop_bits = StopBits::Two;
    ASSERT_TRUE(serial.set_state(port, odd).ok());
    got = serial.get_state(port);
    EXPECT_EQ(got.value().baud, 9600u);
    EXPECT_EQ(got.value().stop_bits, StopBits::Two);
    // (A pty keeps 8 bits without parity whatever it is told.)

    odd.baud = 12345;
    auto bad = serial.set_state(port, odd);
    ASSERT_FALSE(bad.ok());
    EXPECT_EQ(bad.error().rfind("cfsetspeed: ", 0), 0u);
    odd.baud = 9600;
    odd.outx_dsr_flow = true;
    EXPECT_NE(serial.set_state(port, odd).error().find(kNotSupported), std::string::npos);
}

TEST_F(PosixSerialTest, ReadWaitsNoLongerThanItsTimeOut) {
    ASSERT_TRUE(serial.set_state(port, service_settings()).ok());
    // Data mode: up to 1 ms for one byte.
    ASSERT_TRUE(serial.set_timeouts(port, Timeouts{0, 0, 1, 0, 0}).ok());
    char c = 0;
    std::int64_t t0 = now_us();
    auto r = serial.read(port, &c, 1);
    std::int64_t took = now_us() - t0;
    ASSERT_TRUE(r.ok()) << r.error();
    EXPECT_EQ(r.value(), 0u);
    EXPECT_GE(took, 1000);
    EXPECT_LT(took, 1000000);  // not blocked on the empty line

    send("k");
    std::uint32_t n = 0;
    for (int i = 0; i < 200 && n == 0; ++i) n = serial.read(port, &c, 1).value_or(0);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(c, 'k');

    // Interval MAXDWORD, no total: what is there, at once.
    ASSERT_TRUE(serial.set_timeouts(port, Timeouts{kTimeoutMax, 0, 0, 0, 30000}).ok());
    char buf[16];
    EXPECT_EQ(serial.read(port, buf, sizeof buf).value_or(99), 0u);
    send("abc");
    ASSERT_TRUE(arrived(3));
    ASSERT_EQ(serial.read(port, buf, sizeof buf).value_or(0), 3u);
    EXPECT_EQ(std::string(buf, 3), "abc");

    // Interval and multiplier MAXDWORD: the first byte ends the wait.
    ASSERT_TRUE(serial.set_timeouts(port, Timeouts{kTimeoutMax, kTimeoutMax, 2000, 0, 0}).ok());
    std::thread later([&] {
        usleep(30000);
        send("z");
    });
    t0 = now_us();
    EXPECT_EQ(serial.read(port, buf, sizeof buf).value_or(0), 1u);
    EXPECT_LT(now_us() - t0, 1000000);
    later.join();

    // A total time-out of multiplier x bytes + constant ends a short read.
    ASSERT_TRUE(serial.set_timeouts(port, Timeouts{0, 10, 20, 0, 0}).ok());
    send("y");
    t0 = now_us();
    EXPECT_EQ(serial.read(port, buf, 3).value_or(0), 1u);
    EXPECT_GE(now_us() - t0, 50000);
}

TEST_F(PosixSerialTest, BytesArriveAsFarApartAsTheyWereSent) {
    ASSERT_TRUE(serial.set_state(port, service_settings()).ok());
    ASSERT_TRUE(serial.set_timeouts(port, Timeouts{0, 0, 1, 0, 0}).ok());
    std::int64_t sent[2] = {0, 0};
    std::thread device([&] {
        usleep(20000);
        sent[0] = now_us();
        send("1");
        usleep(200000);
        sent[1] = now_us();
        send("2");
    });
    std::vector<std::int64_t> arrivals;
    std::int64_t give_up = now_us() + 2000000;
    while (arrivals.size() < 2 && now_us() < give_up) {
        char c;
        if (serial.read(port, &c, 1).value_or(0) == 1) arrivals.push_back(now_us());
    }
    device.join();
    ASSERT_EQ(arrivals.size(), 2u);
    const double gap = static_cast<double>(arrivals[1] - arrivals[0]);
    const double sent_gap = static_cast<double>(sent[1] - sent[0]);
    qn::timing::print_figures("byte read less written",
                              {(arrivals[0] - sent[0]) / 1000.0, (arrivals[1] - sent[1]) / 1000.0});
    // Each byte read within 100 ms of its writing: bytes held back and handed
    // over together would be 200 ms off.
    for (int i = 0; i < 2; ++i) {
        EXPECT_GE(arrivals[i] - sent[i], 0) << "byte " << i;
        EXPECT_LE(arrivals[i] - sent[i], 100000) << "byte " << i;
    }
    if (qn::timing::precision_run()) {
        EXPECT_NEAR(gap, sent_gap, 20000.0);
    }
}

// Suspending a thread interrupts its system call (EINTR); a read waiting
// for its time-out carries on afterwards and still gets the byte.
TEST_F(PosixSerialTest, AReadCarriesOnAfterItsThreadWasSuspended) {
    ASSERT_TRUE(serial.set_state(port, service_settings()).ok());
    ASSERT_TRUE(serial.set_timeouts(port, Timeouts{0, 0, 2000, 0, 0}).ok());
    posix::PosixThreads threads;
    auto result = std::make_shared<std::atomic<int>>(-100);
    auto info = threads.create([this, result] {
        char c = 0;
        auto r = serial.read(port, &c, 1);
        *result = !r.ok() ? -1 : r.value() == 1 ? c : 0;
    });
    ASSERT_TRUE(info.ok());
    threads.sleep_ms(20);
    ASSERT_TRUE(threads.suspend(info.value().handle).ok());
    send("x");
    threads.sleep_ms(30);
    EXPECT_EQ(result->load(), -100) << "ran while suspended";
    ASSERT_TRUE(threads.resume(info.value().handle).ok());
    for (int i = 0; i < 1000 && result->load() == -100; ++i) threads.sleep_ms(1);
    EXPECT_EQ(result->load(), 'x');
}

TEST_F(PosixSerialTest, PurgeDropsWhatHasArrived) {
    ASSERT_TRUE(serial.set_state(port, service_settings()).ok());
    ASSERT_TRUE(serial.set_timeouts(port, Timeouts{kTimeoutMax, 0, 0, 0, 0}).ok());
    send("stale");
    ASSERT_TRUE(arrived(5));
    ASSERT_TRUE(serial.purge(port, kPurgeRxAbort | kPurgeRxClear | kPurgeTxAbort | kPurgeTxClear).ok());
    char buf[8];
    EXPECT_EQ(serial.read(port, buf, sizeof buf).value_or(99), 0u);
    EXPECT_TRUE(serial.flush(port).ok());
}

// Without the shim a pty has no modem lines; the failures say which call.
TEST_F(PosixSerialTest, ModemLineCallsFailOnAPtyNamingTheCall) {
    EXPECT_EQ(serial.modem_status(port).error(), "ioctl(TIOCMGET): Inappropriate ioctl for device");
    ASSERT_TRUE(serial.set_mask(port, 0).ok());
    EXPECT_EQ(serial.wait_event(port).error(), "ioctl(TIOCMIWAIT): no modem line in the event mask");
    ASSERT_TRUE(serial.set_mask(port, kEventCts).ok());
    EXPECT_EQ(serial.wait_event(port).error().rfind("ioctl(TIOCM", 0), 0u);
}

TEST_F(PosixSerialTest, ACLosedPortFailsEveryCall) {
    serial.close(port);
    serial.close(port);  // twice: harmless
    char c;
    EXPECT_EQ(serial.read(port, &c, 1).error(), "read: Bad file descriptor");
    EXPECT_EQ(serial.modem_status(port).error(), "ioctl(TIOCMGET): Bad file descriptor");
    EXPECT_FALSE(serial.set_state(port, service_settings()).ok());
    EXPECT_FALSE(serial.wait_event(port).ok());
    EXPECT_FALSE(serial.modem_status(0).ok());
    port = 0;
}

// ---- which ports exist -----------------------------------------------------------

TEST(PosixSerialNames, DeviceNamesMapToDeviceFiles) {
    EXPECT_EQ(posix::device_path("\\\\.\\ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(posix::device_path("\\\\.\\/tmp/qn/port"), "/tmp/qn/port");
    EXPECT_EQ(posix::device_path("ttyS0"), "/dev/ttyS0");
    EXPECT_TRUE(posix::natural_less("ttyS2", "ttyS10"));
    EXPECT_TRUE(posix::natural_less("ttyACM0", "ttyS0"));
    EXPECT_FALSE(posix::natural_less("ttyUSB10", "ttyUSB9"));
    EXPECT_FALSE(posix::natural_less("ttyS1", "ttyS1"));
}

// A sysfs tree of our own: only ttys with a device that has a driver count,
// and serial-core ports only when TIOCGSERIAL shows a UART behind them.
TEST(PosixSerialNames, ListingKeepsRealPortsInNaturalOrder) {
    TempDir root;
    std::string cls = root.file("class"), dev = root.file("dev"), devices = root.file("devices");
    for (auto d : {cls, dev, devices, root.file("drivers"), root.file("drivers/ftdi_sio"),
                   root.file("drivers/serial8250"), root.file("drivers/port"), root.file("bus"),
                   root.file("bus/serial-base"), root.file("bus/usb")})
        ASSERT_EQ(mkdir(d.c_str(), 0755), 0) << d;
    auto device = [&](const std::string& tty, const char* driver, const char* bus) {
        std::string d = devices + "/" + tty;
        ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
        if (driver) {
            ASSERT_EQ(symlink((root.file("drivers/") + driver).c_str(), (d + "/driver").c_str()), 0);
        }
        if (bus) {
            ASSERT_EQ(symlink((root.file("bus/") + bus).c_str(), (d + "/subsystem").c_str()), 0);
        }
        ASSERT_EQ(mkdir((cls + "/" + tty).c_str(), 0755), 0);
        ASSERT_EQ(symlink(d.c_str(), (cls + "/" + tty + "/device").c_str()), 0);
    };
    device("ttyUSB10", "ftdi_sio", "usb");
    device("ttyUSB2", "ftdi_sio", "usb");
    device("ttyUSB0", "ftdi_sio", "usb");
    device("ttyACM0", nullptr, "usb");          // no driver bound
    device("ttyS0", "serial8250", "platform");  // no device file to ask
    device("ttyS1", "port", "serial-base");     // answers, but no UART (a pty)
    PtyPair pty;
    ASSERT_EQ(symlink(pty.slave_path.c_str(), (dev + "/ttyS1").c_str()), 0);
    ASSERT_EQ(mkdir((cls + "/tty0").c_str(), 0755), 0);  // virtual: no device

    auto names = posix::list_tty_ports(cls, dev);
    ASSERT_TRUE(names.ok()) << names.error();
    EXPECT_EQ(names.value(), (std::vector<std::string>{"ttyUSB0", "ttyUSB2", "ttyUSB10"}));

    auto missing = posix::list_tty_ports(root.file("none"), dev);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error().rfind("opendir(", 0), 0u);
}

TEST(PosixSerialNames, ThisMachinesPortsHaveDeviceFiles) {
    posix::PosixSerial serial;
    auto names = serial.list_port_names();
    ASSERT_TRUE(names.ok()) << names.error();
    for (const auto& n : names.value()) {
        struct stat st {};
        EXPECT_EQ(n.rfind("/dev/", 0), 0u) << n;  // named as the system names them
        EXPECT_EQ(stat(n.c_str(), &st), 0) << n;
        EXPECT_TRUE(S_ISCHR(st.st_mode)) << n;
    }
    EXPECT_TRUE(std::is_sorted(names.value().begin(), names.value().end(), posix::natural_less));
}

}  // namespace
