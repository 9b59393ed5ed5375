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

#include "autoring/automatic_ringing.h"
#include "autoring/methodfile.h"
#include "service/program.h"
#include "fakes/fake_platform.h"

namespace {

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "touch_loader_fuzz: %s\n", why);
    std::abort();
}

std::string screen_text(const qn::Program& program) {
    std::string all;
    for (int line = 1; line <= qn::Screen::kRows; ++line) all += program.screen.line_text(line);
    return all;
}

void check_loaded(qn::Program& program, std::int32_t asked, std::int32_t bells) {
    const qn::Touch& a = program.autoring->touch();
    if (bells < 4 || bells > asked) fail("number of bells out of range after a load");
    if (a.row_count < 1 + qn::kRoundsAtEnd || a.row_count > qn::kMaxRows) fail("ROWNUM out of range");
    if (a.rows.size() != qn::Touch::index_of(a.row_count) + 1) fail("a row after the touch");
    // Ring every pull the driver would load, bells 1-12 all rung.
    qn::AutoRinger& ringer = program.autoring->ringer();
    ringer.set_up(bells, "1234567890ET", qn::kDefaultPealMinutes);
    ringer.rewind();
    while (ringer.row() < a.row_count + 3 && ringer.next_double_row()) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    qn::test::Harness h;
    qn::Program& program = h.program();
    const std::int32_t asked = 4 + data[0] % 9;  // 4..12, as the set-up asks
    qn::TouchReader reader(program.autoring->touch(), program.run_log, program.dialog, asked);
    if (reader.load_method_file(std::string(reinterpret_cast<const char*>(data + 1), size - 1))) {
        check_loaded(program, asked, reader.bells());
        return 0;
    }
    if (h.log().find("This composition is unsuitable - ") == std::string::npos) fail("refused without a reason in the log");
    if (screen_text(program).find("omposition is unsuitable - ") == std::string::npos)
        fail("refused without a reason on the console");
    return 0;
}
