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
    for (int line = 1; line <= qn::Screen::kRows; ++line) all += c.screen.line_text(line);
    return all;
}

void check_loaded(qn::Context& c, std::int32_t asked) {
    qn::AutoringState& a = c.autoring;
    if (a.bells < 4 || a.bells > asked) fail("number of bells out of range after a load");
    if (a.row_count < 1 + qn::kRoundsAtEnd || a.row_count > qn::kMaxRows) fail("ROWNUM out of range");
    if (a.row_count < qn::kMaxRows && !a.rows[a.row_count + 1].empty()) fail("a row after the touch");
    // Ring every pull the driver would load, bells 1-12 all rung.
    a.keys = "1234567890ET";
    a.row = qn::kFirstRow;
    while (a.row < a.row_count + 3 && qn::next_double_row(c)) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    qn::test::Harness h;
    qn::Context& c = h.c();
    const std::int32_t asked = 4 + data[0] % 9;  // 4..12, as the set-up asks
    c.autoring.bells = asked;
    c.autoring.method_text.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    if (qn::load_method_file(c)) {
        check_loaded(c, asked);
        return 0;
    }
    if (h.log().find("This composition is unsuitable - ") == std::string::npos) fail("refused without a reason in the log");
    if (screen_text(c).find("omposition is unsuitable - ") == std::string::npos)
        fail("refused without a reason on the console");
    return 0;
}
