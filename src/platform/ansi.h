// ANSI terminal output for the console cells: colours, cursor moves, and
// code page 1252 bytes as UTF-8. Pure text building, shared by backends that
// draw on a terminal.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/console.h"

namespace qn::platform::ansi {

// Appends the UTF-8 form of one code page 1252 byte (controls as blanks).
void append_cp1252(std::string& out, std::uint8_t ch);
// Code page 1252 text as UTF-8, control characters kept (a file's text).
std::string cp1252_to_utf8(std::string_view text);
// UTF-8 text (a file name on Linux) as code page 1252, the program's text:
// what 1252 lacks is '?'; a byte that is no UTF-8 is taken as it is.
std::string utf8_to_cp1252(std::string_view text);
// Cursor to row/col (from 0), then the cells, each colour change emitted once.
std::string cells(int row, int col, const ConsoleCell* cells, int count);
std::string cursor(int row, int col, bool visible);
std::string reset();  // colours off, cursor shown, screen cleared

}  // namespace qn::platform::ansi
