// libFuzzer target for the touch file loader: any file text, loaded for any
// number of bells the set-up accepts, must either load into the tables or be
// refused with its reason, and every pull of a loaded touch must be readable
// by the driver. A write past a table stops the process (bounds_failure), so
// it shows as a crash here.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "autoring/driver.h"
#include "autoring/methodfile.h"
#include "core/context.h"
#include "fakes/fake_platform.h"

namespace {

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "touch_loader_fuzz: %s\n", why);
    std::abort();
}

std::string screen_text(const qn::Context& c) {
    std::string all;
    for (int line = 1; line <= qn::Screen::ROWS; ++line) all += c.screen.line_text(line);
    return all;
}

void check_loaded(qn::Context& c, std::int32_t asked) {
    qn::AutoringState& a = c.autoring;
    if (a.AUTOKEYBELLS < 4 || a.AUTOKEYBELLS > asked) fail("number of bells out of range after a load");
    if (a.ROWNUM < 1 + qn::ROUNDSATEND || a.ROWNUM > qn::MAXROWSALLOWED) fail("ROWNUM out of range");
    if (a.ROWNUM < qn::MAXROWSALLOWED && !a.ROW[a.ROWNUM + 1].empty()) fail("a row after the touch");
    // Ring every pull the driver would load, bells 1-12 all rung.
    a.AUTOKEYPRESSDATA = "1234567890ET";
    a.ROWN = qn::ROWLO;
    while (a.ROWN < a.ROWNUM + 3 && qn::GETNEXTDOUBLEROW(c)) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    qn::test::Harness h;
    qn::Context& c = h.c();
    const std::int32_t asked = 4 + data[0] % 9;  // 4..12, as the set-up asks
    c.autoring.AUTOKEYBELLS = asked;
    c.autoring.FMETHOD.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    if (qn::LOADMETHODFILE(c)) {
        check_loaded(c, asked);
        return 0;
    }
    if (h.log().find("This composition is unsuitable - ") == std::string::npos) fail("refused without a reason in the log");
    if (screen_text(c).find("omposition is unsuitable - ") == std::string::npos)
        fail("refused without a reason on the console");
    return 0;
}
