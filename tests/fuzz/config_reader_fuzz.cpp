// Any bytes as the settings file: the reader never stops the program and
// never stores a value beyond its range. What it leaves in memory is
// written back in full; that file reads back, and written again it comes
// out byte for byte the same. A main file it accepts with a known target
// reads back with nothing to name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "config/configfile.h"
#include "service/program.h"
#include "fakes/fake_platform.h"

namespace {

bool in(double v, double lo, double hi) {
    return v >= lo && v <= hi;
}

bool values_in_range(const qn::Program& program) {
    const qn::Settings& s = program.cfg;
    bool ok = in(s.loop_sleep_ms, -1, 50) && in(s.switch_bounce_ms, 0, 500) &&
              in(s.transient_ms, 0, 50) && in(s.sensor_count, 0, qn::kMaxSensors) &&
              in(s.mean_signal_ms, 0, 30000) && in(s.signal_count, 0, 256) &&
              in(s.space_ratio_low, 0, 0.99) && in(s.space_ratio_high, 1.01, 10);
    for (const qn::CalibrationResult& r : s.results)
        ok = ok && in(r.signal_time_s, 0, 86400) && in(r.signal_gap_s, 0, 86400) && in(r.sensor_gap_s, 0, 86400);
    for (const qn::TargetProgram& e : program.target.table()) {
        ok = ok && in(e.sensors_active, 0, qn::kMaxSensors) && in(e.double_strike_delay_ms, 0, 1000);
        for (const qn::SensingPoint& p : e.points)
            ok = ok && in(p.sensor, 0, qn::kMaxSensors) && in(p.hand_delay_ms, 0, 1000) &&
                 in(p.back_delay_ms, 0, 1000);
    }
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qn::test::Harness h;
    qn::Program& program = h.program();
    program.settings_file->set_base_name(qn::kProgramVersion);
    const std::string main_file = program.settings_file->path();
    const std::string text(reinterpret_cast<const char*>(data), size);
    h.fp.files.files[main_file] = text;
    h.fp.files.files["bespoke.ini"] = text;
    auto read = [&h](const std::string& name) {
        try {
            return qn::load_settings(h.program(), name);
        } catch (const qn::test::ProgramExit&) {
            __builtin_trap();  // no line may stop the program
        }
    };

    // A main file accepted with its target is written back whole and reads
    // back with nothing to name.
    const bool accepted = read(main_file) && !program.settings_file->target_unknown();
    if (!values_in_range(program)) __builtin_trap();
    if (!program.settings_file->write(program.cfg, program.target.table())) __builtin_trap();
    const bool back = read(main_file);
    if (accepted && (!back || program.settings_file->problems() != 0)) __builtin_trap();

    // With the override file on top, what is written reads back and comes
    // out the same when written again.
    h.fp.files.files[main_file] = text;
    (void)read(main_file);
    (void)read("bespoke.ini");
    if (!values_in_range(program)) __builtin_trap();
    if (!program.settings_file->write(program.cfg, program.target.table())) __builtin_trap();
    (void)read(main_file);
    const std::string once = h.fp.files.files[main_file];
    if (!program.settings_file->write(program.cfg, program.target.table())) __builtin_trap();
    if (h.fp.files.files[main_file] != once) __builtin_trap();
    return 0;
}
