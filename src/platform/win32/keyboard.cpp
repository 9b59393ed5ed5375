#include "platform/win32/win32.h"

#include <vector>

namespace qn::platform::win32 {

namespace {

class Win32Keyboard final : public Keyboard {
public:
    Result<std::uint32_t> send_input(const KeyInput* records, std::uint32_t count) override {
        if (count == 0) return 0u;
        inputs_.assign(count, INPUT{});
        for (std::uint32_t i = 0; i < count; ++i) {
            INPUT& in = inputs_[i];
            in.type = INPUT_KEYBOARD;
            in.ki.wVk = records[i].vk;
            in.ki.wScan = records[i].scan;
            in.ki.dwFlags = records[i].flags;
            in.ki.time = records[i].time;
            in.ki.dwExtraInfo = static_cast<ULONG_PTR>(records[i].extra);
        }
        SetLastError(ERROR_SUCCESS);
        UINT sent = SendInput(count, inputs_.data(), sizeof(INPUT));
        // Input blocked by another desktop or a higher-integrity window
        // inserts nothing and may leave no error code: that is a count of 0.
        if (sent == 0 && GetLastError() != ERROR_SUCCESS) return fail(last_error("SendInput"));
        return static_cast<std::uint32_t>(sent);
    }

private:
    std::vector<INPUT> inputs_;  // reused: no allocation per key once warmed up
};

}  // namespace

std::unique_ptr<Keyboard> make_keyboard() { return std::make_unique<Win32Keyboard>(); }

}  // namespace qn::platform::win32
