#include "platform/win32/win32.h"
#include "platform/win32/win32_wait.h"

#include <algorithm>
#include <deque>
#include <mutex>
#include <vector>

namespace qn::platform::win32 {

namespace {

// Keys that only change what other keys mean never reach the program.
bool is_modifier(WORD vk) {
    switch (vk) {
    case VK_SHIFT: case VK_CONTROL: case VK_MENU: case VK_CAPITAL: case VK_NUMLOCK:
    case VK_SCROLL: case VK_LWIN: case VK_RWIN: case VK_LSHIFT: case VK_RSHIFT:
    case VK_LCONTROL: case VK_RCONTROL: case VK_LMENU: case VK_RMENU:
        return true;
    default:
        return false;
    }
}

// Keys from a standard input that is not the console (a pipe or a file, as
// with "quennick.exe < keys.txt"): its bytes until it ends, CR LF as one
// Enter. A thread of its own reads them, because a pipe cannot be looked at
// without waiting (under Wine, a pipe from a Unix shell fails PeekNamedPipe
// with ERROR_NOT_SUPPORTED); it sets an event for each piece and at the end.
class RedirectedKeys {
public:
    // Standard input when it is neither the console nor missing, else null.
    static HANDLE input() {
        HANDLE h = GetStdHandle(STD_INPUT_HANDLE);
        DWORD mode = 0;
        if (h == nullptr || h == INVALID_HANDLE_VALUE || GetConsoleMode(h, &mode)) return nullptr;
        const DWORD type = GetFileType(h);
        return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK || type == FILE_TYPE_CHAR ? h : nullptr;
    }

    Result<void> start(HANDLE in) {
        auto shared = std::make_shared<Shared>();
        shared->input = in;
        shared->ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (!shared->ready) return fail(last_error("CreateEvent (keys from standard input)"));
        auto* arg = new std::shared_ptr<Shared>(shared);
        HANDLE t = CreateThread(nullptr, 0, read_on, arg, 0, nullptr);
        if (!t) {
            delete arg;
            return fail(last_error("CreateThread (keys from standard input)"));
        }
        CloseHandle(t);
        shared_ = std::move(shared);
        after_cr_ = false;
        return {};
    }
    // The reader is left to end with its input or with the process.
    void stop() { shared_.reset(); }
    bool active() const { return shared_ != nullptr; }
    HANDLE event() const { return shared_->ready; }

    // Moves what was read to keys.
    void take(std::deque<int>& keys) {
        std::lock_guard<std::mutex> g(shared_->lock);
        for (char ch : shared_->bytes) {
            const int b = static_cast<unsigned char>(ch);
            if (b == 0) keys.push_back(0);  // a NUL is a key of no use, but whole: 0 and its code
            if (!(b == '\n' && after_cr_)) keys.push_back(b);
            after_cr_ = b == '\r';
        }
        shared_->bytes.clear();
    }
    // Read to its end, and everything taken.
    bool ended() const {
        std::lock_guard<std::mutex> g(shared_->lock);
        return shared_->end && shared_->bytes.empty();
    }
    void wait_for_more() const {
        if (!ended()) WaitForSingleObject(shared_->ready, INFINITE);
    }

private:
    struct Shared {
        HANDLE input = nullptr;
        HANDLE ready = nullptr;
        std::mutex lock;
        std::deque<char> bytes;
        bool end = false;
        ~Shared() {
            if (ready) CloseHandle(ready);
        }
    };

    // Nothing read is the end: a file's, the NUL device's, and (under Wine)
    // a Unix pipe's; a Windows pipe fails with ERROR_BROKEN_PIPE instead.
    static DWORD WINAPI read_on(void* arg) {
        std::shared_ptr<Shared> s = std::move(*static_cast<std::shared_ptr<Shared>*>(arg));
        delete static_cast<std::shared_ptr<Shared>*>(arg);
        char buf[64];
        for (;;) {
            DWORD n = 0;
            const bool got = ReadFile(s->input, buf, sizeof buf, &n, nullptr) && n > 0;
            {
                std::lock_guard<std::mutex> g(s->lock);
                if (got) s->bytes.insert(s->bytes.end(), buf, buf + n);
                s->end = !got;
            }
            SetEvent(s->ready);
            if (!got) return 0;
        }
    }

    std::shared_ptr<Shared> shared_;
    bool after_cr_ = false;
};

class Win32Console final : public Console, public ConsoleKeys {
public:
    Win32Console() {
        for (int b = 0; b < 256; ++b) {
            char ch = static_cast<char>(b);
            wchar_t w = L'?';
            MultiByteToWideChar(1252, 0, &ch, 1, &w, 1);
            to_wide_[b] = b < 0x20 || b == 0x7F ? L' ' : w;
        }
    }
    ~Win32Console() override { close(); }

    Result<void> open(int rows, int cols) override {
        if (open_) close();
        if (auto r = open_handles(); !r) return r;
        if (!GetConsoleMode(in_, &saved_mode_)) return abandon(last_error("GetConsoleMode"));
        if (!GetConsoleScreenBufferInfo(out_, &saved_info_))
            return abandon(last_error("GetConsoleScreenBufferInfo"));
        if (!GetConsoleCursorInfo(out_, &saved_cursor_)) return abandon(last_error("GetConsoleCursorInfo"));
        if (HANDLE keys_in = RedirectedKeys::input())
            if (auto r = redirected_.start(keys_in); !r) return abandon(r.error());
        if (auto r = take_keyboard(); !r) return abandon(r.error());
        open_ = true;
        resize(rows, cols);
        set_cursor(0, 0, false);
        return {};
    }

    void close() override {
        if (!open_) return;
        open_ = false;
        SetConsoleMode(in_, saved_mode_);
        SetConsoleCursorInfo(out_, &saved_cursor_);
        if (resized_) {
            SetConsoleScreenBufferSize(out_, saved_info_.dwSize);
            SetConsoleWindowInfo(out_, TRUE, &saved_info_.srWindow);
            resized_ = false;
        }
        close_handles();
        redirected_.stop();
        pending_.clear();
    }

    void write_cells(int row, int col, const ConsoleCell* cells, int count) override {
        if (!open_ || count <= 0 || row < 0 || col < 0 || col >= width_) return;
        // A run that goes past the right edge carries on at the start of the
        // next line, as text written to a terminal would.
        while (count > 0 && row < height_) {
            int n = std::min(count, width_ - col);
            buf_.resize(static_cast<std::size_t>(n));
            for (int i = 0; i < n; ++i) {
                buf_[i].Char.UnicodeChar = to_wide_[cells[i].ch];
                buf_[i].Attributes = cells[i].attr;
            }
            SMALL_RECT area{static_cast<SHORT>(col), static_cast<SHORT>(row),
                            static_cast<SHORT>(col + n - 1), static_cast<SHORT>(row)};
            WriteConsoleOutputW(out_, buf_.data(), COORD{static_cast<SHORT>(n), 1}, COORD{0, 0}, &area);
            cells += n;
            count -= n;
            col = 0;
            ++row;
        }
    }

    void set_cursor(int row, int col, bool visible) override {
        if (!open_) return;
        SetConsoleCursorPosition(out_, COORD{static_cast<SHORT>(col), static_cast<SHORT>(row)});
        CONSOLE_CURSOR_INFO info{saved_cursor_.dwSize ? saved_cursor_.dwSize : 25, visible ? TRUE : FALSE};
        SetConsoleCursorInfo(out_, &info);
    }

    // WriteConsoleOutput shows the cells at once.
    void present() override {}

    // The screen buffer as open() left it (80 x 25 wherever the console
    // allows that); a window smaller than the buffer scrolls.
    ConsoleSize size() override { return open_ ? ConsoleSize{height_, width_} : ConsoleSize{}; }

    bool key_waiting() override { return take_input() == Input::Key; }

    int read_key() override {
        while (pending_.empty()) {
            INPUT_RECORD rec;
            DWORD n = 0;
            if (open_ && redirected_.active()) {
                redirected_.take(pending_);
                if (!pending_.empty()) break;
                if (!redirected_.ended()) {
                    redirected_.wait_for_more();
                    continue;
                }
            }
            if (!open_ || redirected_.active() || !ReadConsoleInputW(in_, &rec, 1, &n)) {
                // The console is gone; there is no key to wait for.
                input_failed_ = open_;
                Sleep(1);
                return 0;
            }
            if (n == 1) take(rec);
        }
        int k = pending_.front();
        pending_.pop_front();
        return k;
    }

    // The console's input is gone (its window closed), or the redirected
    // input has ended: no key will come.
    bool input_ended() override {
        if (!open_) return true;
        if (redirected_.active() && pending_.empty()) redirected_.take(pending_);
        return (input_failed_ || (redirected_.active() && redirected_.ended())) && pending_.empty();
    }

    HANDLE input_handle() const override {
        if (!open_) return nullptr;
        return redirected_.active() ? redirected_.event() : in_;
    }
    bool keys_buffered() const override { return !pending_.empty(); }

    Input take_input() override {
        if (open_ && redirected_.active()) {
            redirected_.take(pending_);
            if (!pending_.empty()) return Input::Key;
            return redirected_.ended() ? Input::Failed : Input::None;
        }
        while (pending_.empty()) {
            INPUT_RECORD rec;
            DWORD n = 0;
            if (!open_) return Input::None;
            if (!PeekConsoleInputW(in_, &rec, 1, &n)) return failed();
            if (n == 0) return Input::None;
            if (!ReadConsoleInputW(in_, &rec, 1, &n)) return failed();
            if (n == 0) return Input::None;
            take(rec);
        }
        return Input::Key;
    }

private:
    Input failed() {
        input_failed_ = true;
        return Input::Failed;
    }

    Result<void> open_handles() {
        // The console itself, even when standard input or output is redirected.
        in_ = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, 0, nullptr);
        if (in_ == INVALID_HANDLE_VALUE) return fail(last_error("CreateFile CONIN$"));
        out_ = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
        if (out_ == INVALID_HANDLE_VALUE) return abandon(last_error("CreateFile CONOUT$"));
        return {};
    }

    void close_handles() {
        if (in_ != INVALID_HANDLE_VALUE) CloseHandle(in_);
        if (out_ != INVALID_HANDLE_VALUE) CloseHandle(out_);
        in_ = out_ = INVALID_HANDLE_VALUE;
    }

    Error abandon(std::string text) {
        close_handles();
        return fail(std::move(text));
    }

    // Ctrl-C must arrive as key 3 rather than end the process, keys must
    // come one at a time without echo, and the mouse must not start a text
    // selection: while one is shown the console holds every write, which
    // would stop the main loop in the middle of ringing.
    // With keys from a redirected input, Ctrl-C in the window is left to the
    // console, which tells the program to end (CTRL_C_EVENT).
    Result<void> take_keyboard() {
        const DWORD processed = redirected_.active() ? 0 : ENABLE_PROCESSED_INPUT;
        DWORD mode = saved_mode_ & ~static_cast<DWORD>(processed | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                                                       ENABLE_MOUSE_INPUT | ENABLE_WINDOW_INPUT |
                                                       ENABLE_QUICK_EDIT_MODE);
        if (SetConsoleMode(in_, mode | ENABLE_EXTENDED_FLAGS)) return {};
        if (SetConsoleMode(in_, mode & ~static_cast<DWORD>(ENABLE_EXTENDED_FLAGS))) return {};
        return fail(last_error("SetConsoleMode"));
    }

    // The buffer and the window become rows x cols when the console allows
    // it (a terminal program that hosts the console may not); either way the
    // cells are clipped to what is there.
    void resize(int rows, int cols) {
        CONSOLE_SCREEN_BUFFER_INFO info = saved_info_;
        COORD want{static_cast<SHORT>(cols), static_cast<SHORT>(rows)};
        SMALL_RECT full{0, 0, static_cast<SHORT>(cols - 1), static_cast<SHORT>(rows - 1)};
        bool same = info.dwSize.X == want.X && info.dwSize.Y == want.Y && info.srWindow.Left == 0 &&
                    info.srWindow.Top == 0 && info.srWindow.Right == full.Right &&
                    info.srWindow.Bottom == full.Bottom;
        if (!same) {
            resized_ = true;
            // The window must always fit inside the buffer: shrink it first.
            SMALL_RECT tiny{0, 0, 0, 0};
            SetConsoleWindowInfo(out_, TRUE, &tiny);
            SetConsoleScreenBufferSize(out_, want);
            SetConsoleWindowInfo(out_, TRUE, &full);
        }
        if (GetConsoleScreenBufferInfo(out_, &info)) {
            width_ = info.dwSize.X;
            height_ = info.dwSize.Y;
        } else {
            width_ = cols;
            height_ = rows;
        }
    }

    void take(const INPUT_RECORD& rec) {
        if (rec.EventType != KEY_EVENT) return;
        const KEY_EVENT_RECORD& k = rec.Event.KeyEvent;
        if (!k.bKeyDown || is_modifier(k.wVirtualKeyCode)) return;
        int repeat = k.wRepeatCount > 0 ? k.wRepeatCount : 1;
        for (int i = 0; i < repeat; ++i) {
            if (k.uChar.UnicodeChar == 0) {
                // No character (cursor and function keys): 0, then the key.
                pending_.push_back(0);
                pending_.push_back(k.wVirtualScanCode & 0xFF);
            } else {
                pending_.push_back(to_cp1252(k.uChar.UnicodeChar));
            }
        }
    }

    static int to_cp1252(wchar_t w) {
        if (w < 0x80) return w;
        char ch = '?';
        BOOL lost = FALSE;
        WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &w, 1, &ch, 1, nullptr, &lost);
        return lost ? '?' : static_cast<unsigned char>(ch);
    }

    HANDLE in_ = INVALID_HANDLE_VALUE;
    HANDLE out_ = INVALID_HANDLE_VALUE;
    bool open_ = false;
    bool input_failed_ = false;
    bool resized_ = false;
    DWORD saved_mode_ = 0;
    CONSOLE_SCREEN_BUFFER_INFO saved_info_{};
    CONSOLE_CURSOR_INFO saved_cursor_{};
    int width_ = 80;
    int height_ = 25;
    wchar_t to_wide_[256];
    std::vector<CHAR_INFO> buf_;
    std::deque<int> pending_;
    RedirectedKeys redirected_;
};

}  // namespace

std::unique_ptr<Console> make_console() { return std::make_unique<Win32Console>(); }

}  // namespace qn::platform::win32
