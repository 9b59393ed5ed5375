// The settings file: reader, writer and value conversions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qn {

struct Context;
class TextSink;

bool READCONFIGFILE(Context& c, const std::string& filename);
// Writes FNAMEFI + ".ini" through a temporary file; false when it could not
// be written (the old file is then untouched).
bool WRITECONFIGFILE(Context& c);
void DOWRITING(Context& c, TextSink& f);

std::string UPPERCASESTR(std::string_view s);
double STR2REAL(Context& c, const std::string& text, const std::string& key);
std::int32_t STR2INDEX(Context& c, const std::string& text, const std::string& key);
std::int32_t STR2LONGINT(Context& c, const std::string& text, const std::string& key);
char STR2CHAR(const std::string& text);

}  // namespace qn
