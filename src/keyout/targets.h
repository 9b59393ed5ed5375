// The table of target programs and the selection of one of them.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;
class TextSink;

void set_target_defaults(Context& c);
std::uint8_t target_index_of(Context& c, const std::string& name);
std::string target_name(Context& c, std::uint8_t index);
std::int32_t byte_to_int(std::uint8_t b);
std::int32_t load_target_parameters(Context& c, const std::string& name);
void write_other_program_options(Context& c, TextSink& f);

}  // namespace qn
