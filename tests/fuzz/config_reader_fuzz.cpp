// Any bytes as the settings file: the reader may stop the program through
// its fatal stop, but must never crash or store outside the tables. What it
// accepts must also survive a write and a second read without a stop.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/configfile.h"
#include "core/context.h"
#include "fakes/fake_platform.h"

namespace {

// true when the read ran to its end; false when the program was stopped.
bool read_without_stop(qn::test::Harness& h, const std::string& name) {
    try {
        (void)qn::read_settings(h.c(), name);
        return true;
    } catch (const qn::test::ProgramExit&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::test::Harness h;
    qn::Context& c = h.c();
    c.core.settings_base_name = qn::kProgramVersion;
    const std::string main_file = c.core.settings_base_name + ".ini";
    const std::string text(reinterpret_cast<const char*>(data), size);
    h.fp.files.files[main_file] = text;
    h.fp.files.files["bespoke.ini"] = text;
    h.fp.console.on_idle = [&h] { h.fp.console.type_line(""); };  // Enter for every stop

    if (!read_without_stop(h, main_file)) return 0;
    if (!read_without_stop(h, "bespoke.ini")) return 0;

    // Whatever was read is written back in full and must read back cleanly.
    if (!qn::write_settings(c)) __builtin_trap();
    if (!read_without_stop(h, main_file)) __builtin_trap();
    return 0;
}
