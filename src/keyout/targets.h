// The table of target programs and the selection of one of them.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
struct TargetProgram;
class TextSink;

// Entry index of the table as calibration sets it up for a bell of this
// many sensors.
TargetProgram default_target_entry(int index, std::int32_t sensors);
void set_target_defaults(Context& c);
// A name the table selects: "Open" or one of the programs' own names.
bool is_target_name(const std::string& name);
std::uint8_t target_index_of(Context& c, const std::string& name);
std::string target_name(Context& c, std::uint8_t index);
std::int32_t byte_to_int(std::uint8_t b);
std::int32_t load_target_parameters(Context& c, const std::string& name);
void write_other_program_options(Context& c, TextSink& f);

}  // namespace qn
