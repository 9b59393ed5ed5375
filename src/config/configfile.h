// The settings file: reader, writer and value conversions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

struct Context;
class TextSink;

// Reads and applies a settings file; true when it was read and can be used.
// No line stops the program: a line that cannot be used is named (file,
// line, what to do) on the screen and in the log and left out, and a value
// beyond its range is left out or cut to it (config/bounds.h). The main
// file must hold the calibration's findings, or calibration follows; other
// keys it lacks get their defaults. c.core.settings_problems counts what
// was named.
bool read_settings(Context& c, const std::string& filename);
// Writes settings_base_name + ".ini" through a temporary file; false when it could not
// be written (the old file is then untouched).
bool write_settings(Context& c);
void write_settings_to(Context& c, TextSink& f);

std::string upper_text(std::string_view s);
char to_char(const std::string& text);

}  // namespace qn
