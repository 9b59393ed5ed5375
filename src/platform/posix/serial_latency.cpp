// What a USB serial adapter does to incoming bytes, on Linux: the driver is
// asked for low latency (ASYNC_LOW_LATENCY, which makes ftdi_sio use a 1 ms
// latency timer whatever its sysfs file says), and the adapter's latency
// timer is read from sysfs where the driver has one.
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cerrno>
#include <fstream>

#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

// The tty's own sysfs folder, found by device number, so it works whatever
// name or link the port was opened by.
std::string sysfs_device_dir(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return {};
    return "/sys/dev/char/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) + "/device";
}

}  // namespace

PortLatency PosixSerial::tune_latency(PortHandle h) {
    PortLatency out;
    const int fd = poll_fd(h);
    if (fd < 0) {
        out.note = errno_text("TIOCGSERIAL", EBADF);
        return out;
    }
    serial_struct ss{};
    if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) {
        out.note = errno_text("TIOCGSERIAL", errno);
    } else if (ss.flags & ASYNC_LOW_LATENCY) {
        out.low_latency = true;
        out.note = "low latency was already on";
    } else {
        ss.flags |= ASYNC_LOW_LATENCY;
        if (::ioctl(fd, TIOCSSERIAL, &ss) != 0) {
            out.note = errno_text("TIOCSSERIAL", errno);
        } else {
            out.low_latency = true;
            out.note = "low latency asked for";
        }
    }
    const std::string dir = sysfs_device_dir(fd);
    if (!dir.empty()) {
        std::ifstream in(dir + "/latency_timer");
        int ms = -1;
        if (in >> ms) {
            out.timer_ms = ms;
            out.where = dir + "/latency_timer";
            out.advice = "as root: echo 1 > " + out.where +
                         ", or for good a udev rule: ACTION==\"add\", SUBSYSTEM==\"usb-serial\", "
                         "DRIVER==\"ftdi_sio\", ATTR{latency_timer}=\"1\"";
        }
    }
    return out;
}

}  // namespace qn::platform::posix
