// Helpers for the desktop tests: an X server of their own (Xvfb, with or
// without a window manager) and a client whose windows record every key
// that reaches them, with the time it came.
#pragma once

#include <X11/Xlib.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qn::xtest {

std::int64_t now_us();  // CLOCK_MONOTONIC

// Xvfb on a free display, and openbox on it when asked for; both end with
// the object. ok() is false (and why() says why) when either cannot start.
class XServer {
public:
    explicit XServer(bool window_manager);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    bool ok() const { return error_.empty(); }
    const std::string& why() const { return error_; }
    const std::string& display() const { return display_; }

private:
    int xvfb_ = -1, wm_ = -1;  // pids
    std::string display_, error_;
};

struct KeyRecord {
    Window window = 0;
    unsigned keycode = 0;
    KeySym keysym = 0;
    bool press = false;
    bool synthetic = false;  // XSendEvent's, which browsers ignore
    std::int64_t at_us = 0;
};

// A client with windows of its own. A thread takes its events as they come,
// so each key is timed on arrival.
class TestClient {
public:
    explicit TestClient(const std::string& display);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    // A top-level window, mapped. utf8_title goes into _NET_WM_NAME, or
    // (with latin1_only) into WM_NAME alone as an ISO 8859-1 STRING.
    Window make_window(const std::string& utf8_title, const std::string& wm_class, std::uint32_t pid,
                       bool latin1_only = false);
    // As a person clicking it: activated by the window manager if there is
    // one, else raised and given the focus. Waits until it has the focus.
    bool focus(Window w);
    Window focused();
    Display* display() const { return dpy_; }

    std::vector<KeyRecord> keys();
    std::vector<KeyRecord> keys_of(Window w);
    // Waits for at least n key records in all.
    bool wait_keys(std::size_t n, int timeout_ms);
    void clear_keys();

private:
    void pump();
    Display* dpy_ = nullptr;
    std::vector<Window> windows_;
    std::mutex lock_;
    std::vector<KeyRecord> keys_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace qn::xtest
