#include <gtest/gtest.h>

#include "fakes/fake_platform.h"
#include "serial/ports.h"
#include "serial/sensing.h"

namespace qn::test {
namespace {

using platform::LineControl;

TEST(PortList, RegistryOrderEmptyListAndTheLimitOf25) {
    {
        Harness h;
        h.fp.serial.add_port("COM3");
        h.fp.serial.add_port("COM1");
        h.program().ports.list();
        const std::int32_t total = h.program().ports.count();
        EXPECT_EQ(total, 2);
        EXPECT_EQ(h.program().ports.name(0), "COM3");
        EXPECT_EQ(h.program().ports.name(1), "COM1");
    }
    {
        Harness h;
        h.fp.serial.list_fails = true;
        h.program().ports.list();
        const std::int32_t total = h.program().ports.count();
        EXPECT_EQ(total, 1);
        EXPECT_EQ(h.program().ports.name(0), "");
        EXPECT_NE(h.log().find("Serial port list not available"), std::string::npos);
    }
    {
        Harness h;
        for (int i = 1; i <= 27; ++i) h.fp.serial.add_port("COM" + std::to_string(i));
        h.program().ports.list();
        const std::int32_t total = h.program().ports.count();
        EXPECT_EQ(total, 25);
        EXPECT_EQ(h.program().ports.name(24), "COM25");
        EXPECT_NE(h.log().find("not listed: COM26 COM27\r\n"), std::string::npos);
    }
}

TEST(PortList, NamesWithBlanksOrCommasSurviveTheCommaText) {
    Harness h;
    h.fp.serial.add_port("COM4");
    h.fp.serial.add_port("My Port, 2");
    EXPECT_EQ(h.program().ports.names_text(), "COM4,\"My Port, 2\"");
    h.program().ports.list();
    const std::int32_t total = h.program().ports.count();
    EXPECT_EQ(total, 2);
    EXPECT_EQ(h.program().ports.name(1), "My Port, 2");
}

TEST(PortOpen, FirstColumnSettingsAndTimeouts) {
    Harness h;
    h.fp.serial.add_port("COM3");
    PortHandle p = h.program().ports.open("\\\\.\\COM3");
    ASSERT_NE(p, 0u);
    const platform::LineSettings& s = h.fp.serial.states[p];
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.data_bits, 8);
    EXPECT_EQ(s.parity, platform::Parity::None);
    EXPECT_EQ(s.stop_bits, platform::StopBits::One);
    EXPECT_TRUE(s.binary);
    EXPECT_FALSE(s.outx_cts_flow || s.outx_dsr_flow || s.outx || s.inx);
    EXPECT_EQ(s.dtr_control, LineControl::Disable);
    EXPECT_EQ(s.rts_control, LineControl::Disable);
    EXPECT_EQ(s.xon_lim, 512);
    EXPECT_EQ(s.xoff_lim, 1);
    EXPECT_EQ(s.xon_char, 0x11);
    EXPECT_EQ(s.xoff_char, 0x13);
    const platform::Timeouts& t = h.fp.serial.timeouts[p];
    EXPECT_EQ(t.read_interval, platform::kTimeoutMax);
    EXPECT_EQ(t.read_total_constant, 0u);
    EXPECT_EQ(t.write_total_constant, 30000u);
    // Exclusive: a second open fails and logs why.
    EXPECT_EQ(h.program().ports.open("\\\\.\\COM3"), 0u);
    EXPECT_NE(h.log().find("Open \\\\.\\COM3: CreateFile"), std::string::npos);
}

TEST(PortOpen, SettingsThatFailCloseThePort) {
    Harness h;
    h.fp.serial.add_port("COM3").fail_set_state = true;
    EXPECT_EQ(h.program().ports.open("\\\\.\\COM3"), 0u);
    EXPECT_EQ(h.fp.serial.calls.back(), "close COM3");
}

TEST(ServicePort, OpensAt2400WithRtsThenDtr) {
    Harness h;
    h.fp.serial.add_port("COM3");
    h.program().cfg.port_name = "\\\\.\\COM3";
    h.program().sensing.open_service_port();
    PortHandle p = h.program().ports.service();
    ASSERT_NE(p, 0u);
    EXPECT_EQ(h.fp.serial.states[p].baud, 2400u);
    EXPECT_EQ(h.fp.serial.states[p].rts_control, LineControl::Enable);
    EXPECT_EQ(h.fp.serial.states[p].dtr_control, LineControl::Enable);
    std::vector<std::string> sets;
    for (auto& call : h.fp.serial.calls)
        if (call.rfind("set_state", 0) == 0) sets.push_back(call);
    // open, service speed, RTS on, DTR on
    ASSERT_EQ(sets.size(), 4u);
    EXPECT_EQ(sets[1], "set_state COM3 2400");
}

TEST(ServicePort, AMissingPortStopsWithCode95) {
    Harness h;
    h.program().cfg.port_name = "\\\\.\\COM9";
    h.fp.console.type_line("");
    try {
        h.program().sensing.open_service_port();
        FAIL();
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 95);
    }
    EXPECT_TRUE(ScreenHas(h.program().screen, 1, 1, "Open \\\\.\\COM9 failed - check COM port connection", kYellow));
}

TEST(PortLost, TheRingerIsToldThenTheRunEnds) {
    Harness h;
    try {
        h.program().sensing.stop_on_bad_port(6);
        FAIL();
    } catch (const ProgramExit& e) {
        EXPECT_EQ(e.code, 0);
    }
    EXPECT_TRUE(ScreenHas(h.program().screen, 1, 1, "Serial port not responding locn 6 - terminating", kYellow));
    EXPECT_NE(h.log().find("Serial port not responding locn 6\r\n"), std::string::npos);
    EXPECT_EQ(h.fp.threads.slept_ms(), 4000);
}

TEST(CharRead, OneCharacterWithAMillisecondTimeout) {
    Harness h;
    auto& port = h.fp.serial.add_port("COM3");
    port.bytes = {{1500, 'a'}, {5000, 'b'}};
    PortHandle p = h.program().ports.open("COM3");
    char buf[2] = {};
    h.fp.clock.set_us(1000);
    EXPECT_EQ(h.program().ports.read_char(p, buf, 1), 1);
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(h.fp.clock.now_us(), 1500);
    EXPECT_EQ(h.program().ports.read_char(p, buf, 1), 0);
    EXPECT_EQ(h.fp.clock.now_us(), 2500);
    EXPECT_EQ(h.fp.serial.timeouts[p].read_interval, 0u);
    EXPECT_EQ(h.fp.serial.timeouts[p].read_total_constant, 1u);
}

}  // namespace
}  // namespace qn::test
