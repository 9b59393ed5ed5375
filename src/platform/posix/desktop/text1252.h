// Window titles reach the program as bytes of code page 1252, as the Windows
// desktop gives them (the em dash of a browser title is 0x97).
#pragma once

#include <string>
#include <string_view>

namespace qn::platform::posix {

// UTF-8 to code page 1252: characters it lacks and bytes that are not UTF-8
// become '?', one for each.
std::string utf8_to_cp1252(std::string_view utf8);

// ISO 8859-1 (an X11 STRING property) to code page 1252: the C1 controls,
// which 1252 uses for printing characters, become '?'.
std::string latin1_to_cp1252(std::string_view latin1);

}  // namespace qn::platform::posix
