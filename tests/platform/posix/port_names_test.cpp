// Serial ports on Linux go by the names the system gives them: the program
// on scripted ports with the POSIX backend's naming. A new calibration
// stores "/dev/ttyUSB0"; a settings file of an older Linux build, which
// stored "\\.\ttyUSB0", still opens the port; a stable link the list does
// not show (/dev/serial/by-id/...) is opened by its path.
#include <gtest/gtest.h>

#include "config/configfile.h"
#include "fakes/fake_platform.h"
#include "fakes/program_run.h"
#include "keyout/targets.h"
#include "platform/posix/posix_serial.h"
#include "service/program.h"

namespace qn::test {
namespace {

const std::string kSettings = std::string(kProgramVersion) + ".ini";
const std::string kById = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";

// The scripted ports, named as the POSIX backend names them; the by-id
// links are not listed, as the system does not list them.
class LinuxPorts : public ScriptedSerial {
public:
    using ScriptedSerial::ScriptedSerial;
    platform::Result<std::vector<std::string>> list_port_names() override {
        auto all = ScriptedSerial::list_port_names();
        std::vector<std::string> listed;
        for (const auto& n : all.value())
            if (n.rfind("/dev/serial/", 0) != 0) listed.push_back(n);
        return listed;
    }
    std::string device_name(const std::string& port) override { return posix_.device_name(port); }
    std::string stored_device_name(const std::string& stored) override {
        return posix_.stored_device_name(stored);
    }
    bool opens_unlisted(const std::string& device) override { return posix_.opens_unlisted(device); }

private:
    platform::posix::PosixSerial posix_;
};

// The program on those ports.
struct LinuxRun : ProgramRun {
    LinuxPorts ports{h.fp.clock};
    LinuxRun() {
        h.fp.plat.serial = &ports;
        h.remake();
    }
    void run(std::int64_t quit_at_us) { ProgramRun::run({}, quit_at_us); }
    bool opened(const std::string& name) const {
        return std::find(ports.calls.begin(), ports.calls.end(), "open " + name) != ports.calls.end();
    }
};

std::string settings_on(const std::string& comport) {
    Harness h;
    Program& program = h.program();
    program.settings_file->set_base_name(kProgramVersion);
    program.cfg.port_name = comport;
    program.cfg.rest_on_mode = true;
    program.cfg.data_char = 'a';
    program.cfg.sensor_count = 1;
    set_target_defaults(program.target, program.cfg.sensor_count);
    program.cfg.target_program = "Open";
    EXPECT_TRUE(program.settings_file->write(program.cfg, program.target.table()));
    return h.fp.files.files[kSettings];
}

TEST(LinuxPortNames, TheBackendNamesPortsByTheirDeviceFiles) {
    platform::posix::PosixSerial s;
    EXPECT_EQ(s.device_name("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(s.stored_device_name("\\\\.\\ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(s.stored_device_name(" /dev/ttyACM0 \r"), "/dev/ttyACM0");
    EXPECT_EQ(s.stored_device_name(kById), kById);
    EXPECT_TRUE(s.opens_unlisted(kById));
    EXPECT_FALSE(s.opens_unlisted("\\\\.\\COM3"));
}

TEST(LinuxPortNames, AnOlderSettingsFileWithTheWindowsFormOpensTheDeviceFile) {
    LinuxRun r;
    r.h.fp.files.files[kSettings] = settings_on("\\\\.\\ttyUSB0");
    r.ports.add_port("/dev/ttyS0");
    r.ports.add_port("/dev/ttyUSB0").bytes = {{2000000, 'a'}};
    r.run(3000000);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.opened("/dev/ttyUSB0"));
    EXPECT_EQ(r.log().find("not available"), std::string::npos) << r.log();
    EXPECT_EQ(r.h.fp.keyboard.typed(), "J");
    // Written again, the file has the name the system gives the port.
    ASSERT_TRUE(r.h.program().settings_file->write(r.h.program().cfg, r.h.program().target.table()));
    EXPECT_NE(r.h.fp.files.files[kSettings].find("\r\ncomport=/dev/ttyUSB0\r\n"), std::string::npos);
}

TEST(LinuxPortNames, AStableLinkTheListDoesNotShowIsOpenedByItsPath) {
    LinuxRun r;
    r.h.fp.files.files[kSettings] = settings_on(kById);
    r.ports.add_port("/dev/ttyUSB0");
    r.ports.add_port(kById);
    r.run(1000000);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_TRUE(r.opened(kById));
    EXPECT_EQ(r.log().find("not available"), std::string::npos) << r.log();

    // Unplugged: the usual question, naming the path.
    LinuxRun gone;
    gone.h.fp.files.files[kSettings] = settings_on(kById);
    gone.h.fp.console.on_idle = [&] {
        if (gone.h.program().screen.line_text(5).find("(R/c/q)") != std::string::npos) gone.h.fp.console.type("q");
    };
    gone.run(1000000);
    EXPECT_NE(gone.log().find("Comport " + kById + " not available"), std::string::npos);
}

TEST(LinuxPortNames, ANewCalibrationSurveysAndStoresTheSystemsNames) {
    LinuxRun r;
    r.ports.add_port("/dev/ttyACM0");
    r.h.fp.console.on_idle = [&] {
        for (int l = 1; l <= 25; ++l)
            if (r.h.program().screen.line_text(l).find("[or Q to exit]") != std::string::npos)
                r.h.fp.console.type("q");
    };
    r.run(1000 * 1000000LL);
    EXPECT_NE(r.log().find("1 /dev/ttyACM0 found and serviceable"), std::string::npos) << r.log();
    EXPECT_EQ(r.log().find("\\\\.\\"), std::string::npos);
    EXPECT_EQ(r.h.program().cfg.port_name, "/dev/ttyACM0");
}

}  // namespace
}  // namespace qn::test
