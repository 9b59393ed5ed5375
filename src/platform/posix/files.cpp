// Files, standard error and local time on Linux.
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/ansi.h"
#include "platform/posix/posix_services.h"

namespace qn::platform::posix {

namespace {

// The path as the program's text: these errors are shown and logged.
std::string call_on(const char* call, const std::string& path) {
    return std::string(call) + "(" + ansi::utf8_to_cp1252(path) + ")";
}

Result<void> write_fully(int fd, std::string_view bytes, const std::string& path) {
    while (!bytes.empty()) {
        ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(errno_text(call_on("write", path), errno));
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

// Writes go straight to the OS, so a crash or a fatal stop that ends the
// process at once never loses a line the program has written. Both threads
// may write the error log, hence the lock.
class PosixOutFile : public OutFile {
public:
    PosixOutFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    ~PosixOutFile() override {
        if (fd_ >= 0) ::close(fd_);
    }

    Result<void> write(std::string_view bytes) override {
        std::lock_guard<std::mutex> g(lock_);
        if (fd_ < 0) return fail(errno_text(call_on("write", path_), EBADF));
        return write_fully(fd_, bytes, path_);
    }

    Result<void> flush() override {
        std::lock_guard<std::mutex> g(lock_);
        if (fd_ < 0) return fail(errno_text(call_on("write", path_), EBADF));
        return {};
    }

    Result<void> sync() override {
        std::lock_guard<std::mutex> g(lock_);
        if (fd_ < 0) return fail(errno_text(call_on("fsync", path_), EBADF));
        if (::fsync(fd_) != 0) return fail(errno_text(call_on("fsync", path_), errno));
        return {};
    }

    Result<void> close() override {
        std::lock_guard<std::mutex> g(lock_);
        if (fd_ < 0) return {};
        int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) return fail(errno_text(call_on("close", path_), errno));
        return {};
    }

private:
    std::mutex lock_;
    int fd_;
    std::string path_;
};

// The program's text is code page 1252 (the Windows program's); Linux
// text files are UTF-8. Each byte stands alone, so writes convert one by one.
class Utf8OutFile : public OutFile {
public:
    explicit Utf8OutFile(std::unique_ptr<OutFile> file) : file_(std::move(file)) {}
    Result<void> write(std::string_view bytes) override { return file_->write(ansi::cp1252_to_utf8(bytes)); }
    Result<void> flush() override { return file_->flush(); }
    Result<void> sync() override { return file_->sync(); }
    Result<void> close() override { return file_->close(); }

private:
    std::unique_ptr<OutFile> file_;
};

std::string env_text(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string parent_dir(const std::string& path) {
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

Result<void> PosixFiles::make_dir(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return {};
    int err = errno;
    struct stat st {};
    if (err == EEXIST && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return {};
    return fail(errno_text(call_on("mkdir", path), err));
}

bool PosixFiles::exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

Result<std::unique_ptr<OutFile>> PosixFiles::create(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return fail(errno_text(call_on("open", path), errno));
    return std::unique_ptr<OutFile>(std::make_unique<PosixOutFile>(fd, path));
}

Result<std::string> PosixFiles::read_all(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(errno_text(call_on("open", path), errno));
    std::string out;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            return fail(errno_text(call_on("read", path), err));
        }
        if (n == 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

Result<void> PosixFiles::replace(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0)
        return fail(errno_text("rename(" + ansi::utf8_to_cp1252(from) + ", " + ansi::utf8_to_cp1252(to) + ")", errno));
    // The new name is only durable once the directory entry is on disk.
    std::string dir = parent_dir(to);
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return fail(errno_text(call_on("open", dir), errno));
    int rc = ::fsync(fd);
    int err = errno;
    ::close(fd);
    if (rc != 0) return fail(errno_text(call_on("fsync", dir), err));
    return {};
}

Result<void> PosixFiles::remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0) return fail(errno_text(call_on("unlink", path), errno));
    return {};
}

Result<void> PosixFiles::redirect_stderr(const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return fail(errno_text(call_on("open", path), errno));
    int rc = ::dup2(fd, STDERR_FILENO);
    int err = errno;
    ::close(fd);
    if (rc < 0) return fail(errno_text("dup2(" + ansi::utf8_to_cp1252(path) + ", 2)", err));
    return {};
}

Result<std::unique_ptr<OutFile>> PosixFiles::create_text(const std::string& path) {
    auto file = create(path);
    if (!file.ok()) return fail(file.error());
    return std::unique_ptr<OutFile>(std::make_unique<Utf8OutFile>(std::move(file.value())));
}

UserDirs PosixFiles::user_dirs() {
    UserDirs d;
    d.xdg = true;
    d.config_home = env_text("XDG_CONFIG_HOME");
    d.state_home = env_text("XDG_STATE_HOME");
    d.home = env_text("HOME");
    if (d.home.empty()) {
        std::vector<char> buf(16384);
        passwd pw{};
        passwd* found = nullptr;
        if (::getpwuid_r(::getuid(), &pw, buf.data(), buf.size(), &found) == 0 && found && found->pw_dir)
            d.home = found->pw_dir;
    }
    char exe[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) d.program_dir = parent_dir(std::string(exe, static_cast<std::size_t>(n)));
    return d;
}

LocalDateTime PosixFiles::now() {
    time_t t = ::time(nullptr);
    tm local{};
    localtime_r(&t, &local);
    char date[32] = "", clock[32] = "";
    strftime(date, sizeof date, "%Y-%m-%d", &local);
    strftime(clock, sizeof clock, "%H:%M:%S", &local);
    return LocalDateTime{date, clock};
}

}  // namespace qn::platform::posix
