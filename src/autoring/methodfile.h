// Method and touch files: rows, place notation, block length and calls.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;

// Reads and analyses the open file (AutoringState::method_text holds its text).
bool load_method_file(Context& c);
bool load_file_data(Context& c);
void find_symmetry(Context& c);
bool seek_repeating_patterns(Context& c);
bool check_call_types(Context& c);
char bell_symbol(std::int32_t place);
void pad_row(Context& c, std::int32_t r);

}  // namespace qn
