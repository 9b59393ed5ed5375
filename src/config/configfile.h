// The settings file: reader, writer and value conversions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

struct Context;
class TextSink;

bool read_settings(Context& c, const std::string& filename);
// Writes settings_base_name + ".ini" through a temporary file; false when it could not
// be written (the old file is then untouched).
bool write_settings(Context& c);
void write_settings_to(Context& c, TextSink& f);

std::string upper_text(std::string_view s);
double to_real(Context& c, const std::string& text, const std::string& key);
std::int32_t to_index(Context& c, const std::string& text, const std::string& key);
std::int32_t to_int(Context& c, const std::string& text, const std::string& key);
char to_char(const std::string& text);

}  // namespace qn
