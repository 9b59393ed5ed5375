#include "platform/win32/win32.h"

#include <fcntl.h>
#include <io.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdio>
#include <algorithm>
#include <cstring>

namespace qn::platform::win32 {

namespace {

// Small writes are gathered here and reach the file on flush, or when this
// much has piled up.
constexpr std::size_t kBufferLimit = 8192;

class Win32OutFile final : public OutFile {
public:
    explicit Win32OutFile(HANDLE h) : h_(h) {}
    ~Win32OutFile() override { close(); }

    Result<void> write(std::string_view bytes) override {
        if (h_ == INVALID_HANDLE_VALUE) return fail("WriteFile: file is closed");
        buffer_.append(bytes);
        if (buffer_.size() >= kBufferLimit) return flush();
        return {};
    }

    Result<void> flush() override {
        if (h_ == INVALID_HANDLE_VALUE) return fail("WriteFile: file is closed");
        std::size_t done = 0;
        while (done < buffer_.size()) {
            // Offset all ones: write at the end of the file, wherever it is
            // now. Standard error may be sent to the same file, and its
            // output must not be overwritten by ours (or ours by it).
            OVERLAPPED at_end{};
            at_end.Offset = 0xFFFFFFFF;
            at_end.OffsetHigh = 0xFFFFFFFF;
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(buffer_.size() - done, 1u << 20));
            DWORD written = 0;
            if (!WriteFile(h_, buffer_.data() + done, chunk, &written, &at_end)) {
                buffer_.erase(0, done);
                return fail(last_error("WriteFile"));
            }
            done += written;
        }
        buffer_.clear();
        return {};
    }

    Result<void> sync() override {
        if (auto r = flush(); !r) return r;
        if (!FlushFileBuffers(h_)) return fail(last_error("FlushFileBuffers"));
        return {};
    }

    Result<void> close() override {
        if (h_ == INVALID_HANDLE_VALUE) return {};
        Result<void> r = flush();
        if (!CloseHandle(h_) && r) r = fail(last_error("CloseHandle"));
        h_ = INVALID_HANDLE_VALUE;
        return r;
    }

private:
    HANDLE h_;
    std::string buffer_;
};

std::string crt_error(const char* call) { return std::string(call) + ": " + std::strerror(errno); }

// A path in the program's text (code page 1252). One with characters beyond
// it goes by its short (8.3) name, which has none; "" when there is none.
std::string path_text(const std::wstring& path) {
    std::string text = narrow(path);
    if (widen(text) == path) return text;
    std::wstring short_path(32768, L'\0');
    const DWORD n = GetShortPathNameW(path.c_str(), short_path.data(), static_cast<DWORD>(short_path.size()));
    if (n == 0 || n >= short_path.size()) return {};
    short_path.resize(n);
    text = narrow(short_path);
    return widen(text) == short_path ? text : std::string();
}

// The folder of a known folder id (made if missing, as a new profile may
// lack it), or the failing call's error in problem.
std::string known_folder(REFKNOWNFOLDERID id, const char* name, std::string& problem) {
    PWSTR path = nullptr;
    const HRESULT hr = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path);
    std::string text;
    if (SUCCEEDED(hr)) {
        text = path_text(path);
        if (text.empty()) problem = std::string(name) + " has characters beyond code page 1252 and no short name";
    } else {
        problem = error_text((std::string("SHGetKnownFolderPath(") + name + ")").c_str(), static_cast<DWORD>(hr));
    }
    CoTaskMemFree(path);
    return text;
}

std::string program_folder() {
    std::wstring path(32768, L'\0');
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0 || n >= path.size()) return {};
    path.resize(n);
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::string() : path_text(path.substr(0, slash));
}

class Win32Files final : public Files {
public:
    Result<void> make_dir(const std::string& path) override {
        std::wstring p = native_path(path);
        if (CreateDirectoryW(p.c_str(), nullptr)) return {};
        DWORD err = GetLastError();
        DWORD attrs = GetFileAttributesW(p.c_str());
        if (err == ERROR_ALREADY_EXISTS && attrs != INVALID_FILE_ATTRIBUTES &&
            (attrs & FILE_ATTRIBUTE_DIRECTORY))
            return {};
        return fail(error_text("CreateDirectory", err));
    }

    bool exists(const std::string& path) override {
        return GetFileAttributesW(native_path(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    Result<std::unique_ptr<OutFile>> create(const std::string& path) override {
        // Shared for reading and writing: the log is read by people while the
        // program runs, and standard error is opened onto it a second time.
        HANDLE h = CreateFileW(native_path(path).c_str(), GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return fail(last_error("CreateFile"));
        return std::unique_ptr<OutFile>(std::make_unique<Win32OutFile>(h));
    }

    Result<std::string> read_all(const std::string& path) override {
        HANDLE h = CreateFileW(native_path(path).c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return fail(last_error("CreateFile"));
        std::string out;
        char buf[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(h, buf, sizeof buf, &got, nullptr)) {
                Error e = fail(last_error("ReadFile"));
                CloseHandle(h);
                return e;
            }
            if (got == 0) break;
            out.append(buf, got);
        }
        CloseHandle(h);
        return out;
    }

    Result<void> replace(const std::string& from, const std::string& to) override {
        if (!MoveFileExW(native_path(from).c_str(), native_path(to).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return fail(last_error("MoveFileEx"));
        return {};
    }

    Result<void> remove(const std::string& path) override {
        if (!DeleteFileW(native_path(path).c_str())) return fail(last_error("DeleteFile"));
        return {};
    }

    Result<void> redirect_stderr(const std::string& path) override {
        // Append-only access: every write lands at the end of the file, even
        // one made through the Win32 handle while the log itself is written
        // through another handle.
        HANDLE h = CreateFileW(native_path(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return fail(last_error("CreateFile"));
        int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_APPEND | _O_TEXT);
        if (fd < 0) {
            CloseHandle(h);
            return fail(crt_error("_open_osfhandle"));
        }
        std::fflush(stderr);
        int rc = _dup2(fd, _fileno(stderr));
        _close(fd);
        if (rc != 0) return fail(crt_error("_dup2"));
        std::clearerr(stderr);
        // Unbuffered, as standard error always is: a report written just
        // before a crash must already be in the file.
        std::setvbuf(stderr, nullptr, _IONBF, 0);
        // Output that goes through the Win32 handle rather than the C
        // runtime (other libraries, the runtime's own abort messages) must
        // land in the same file.
        HANDLE dup = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stderr)));
        if (dup == INVALID_HANDLE_VALUE) return fail(crt_error("_get_osfhandle"));
        if (!SetStdHandle(STD_ERROR_HANDLE, dup)) return fail(last_error("SetStdHandle"));
        return {};
    }

    LocalDateTime now() override {
        LocalDateTime t;
        t.short_date = format(GetDateFormatW, DATE_SHORTDATE);
        t.long_time = format(GetTimeFormatW, 0);
        return t;
    }

    UserDirs user_dirs() override {
        UserDirs d;
        d.windows = true;
        d.app_data = known_folder(FOLDERID_RoamingAppData, "RoamingAppData", d.problem);
        d.documents = known_folder(FOLDERID_Documents, "Documents", d.problem);
        d.program_dir = program_folder();
        return d;
    }

private:
    template <typename Fn>
    static std::string format(Fn fn, DWORD flags) {
        wchar_t buf[128];
        int n = fn(LOCALE_USER_DEFAULT, flags, nullptr, nullptr, buf, 128);
        return n > 0 ? narrow(buf, n - 1) : std::string();
    }
};

}  // namespace

std::unique_ptr<Files> make_files() { return std::make_unique<Win32Files>(); }

}  // namespace qn::platform::win32
