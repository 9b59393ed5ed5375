// Which serial ports this machine has, and where their device files are.
#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_serial.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

std::string link_basename(const std::string& link) {
    char target[4096];
    ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    std::string t(target, static_cast<std::size_t>(n));
    auto slash = t.find_last_of('/');
    return slash == std::string::npos ? t : t.substr(slash + 1);
}

bool reports_uart(const std::string& dev) {
    int fd = ::open(dev.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    // EBUSY: opened exclusively (TIOCEXCL), so in use, so real.
    if (fd < 0) return errno == EBUSY;
    serial_struct info{};
    bool real = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return real;
}

bool is_real_port(const std::string& class_dir, const std::string& dev_dir,
                  const std::string& name) {
    std::string device = class_dir + "/" + name + "/device";
    struct stat st {};
    if (::stat(device.c_str(), &st) != 0) return false;  // virtual: consoles, ptys
    std::string driver = link_basename(device + "/driver");
    if (driver.empty()) return false;
    std::string bus = link_basename(device + "/subsystem");
    if (driver == "serial8250" || bus == "serial-base") return reports_uart(dev_dir + "/" + name);
    return true;
}

}  // namespace

bool natural_less(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        bool da = a[i] >= '0' && a[i] <= '9', db = b[j] >= '0' && b[j] <= '9';
        if (da && db) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && a[ei] >= '0' && a[ei] <= '9') ++ei;
            while (ej < b.size() && b[ej] >= '0' && b[ej] <= '9') ++ej;
            std::string_view na(a.data() + i, ei - i), nb(b.data() + j, ej - j);
            while (na.size() > 1 && na.front() == '0') na.remove_prefix(1);
            while (nb.size() > 1 && nb.front() == '0') nb.remove_prefix(1);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    if ((a.size() - i) != (b.size() - j)) return (a.size() - i) < (b.size() - j);
    return a < b;
}

Result<std::vector<std::string>> list_tty_ports(const std::string& class_dir,
                                                const std::string& dev_dir) {
    DIR* dir = ::opendir(class_dir.c_str());
    if (dir == nullptr) return fail(errno_text("opendir(" + class_dir + ")", errno));
    std::vector<std::string> names;
    while (dirent* e = ::readdir(dir)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (is_real_port(class_dir, dev_dir, name)) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

Result<std::vector<std::string>> PosixSerial::list_port_names() {
    auto names = list_tty_ports("/sys/class/tty", "/dev");
    if (!names.ok()) return names;
    for (std::string& n : names.value()) n = "/dev/" + n;
    return names;
}

// Older Linux builds stored the Windows form, "\\.\ttyUSB0"; blanks around
// the value are not part of a path.
std::string PosixSerial::stored_device_name(const std::string& stored) {
    const auto first = stored.find_first_not_of(" \t");
    if (first == std::string::npos) return stored;
    const auto last = stored.find_last_not_of(" \t\r");
    std::string name = stored.substr(first, last - first + 1);
    return device_path(name);
}

std::string device_path(const std::string& device) {
    static const std::string kWin32Prefix = "\\\\.\\";
    std::string name = device;
    if (name.compare(0, kWin32Prefix.size(), kWin32Prefix) == 0) name.erase(0, kWin32Prefix.size());
    if (!name.empty() && name.front() == '/') return name;
    return "/dev/" + name;
}

}  // namespace qn::platform::posix
