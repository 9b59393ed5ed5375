// Method and touch files: rows, place notation, block length and calls.
#pragma once

#include <cstdint>
#include <string>

namespace qn {

struct Context;

// Reads and analyses the open file (AutoringState::FMETHOD holds its text).
bool LOADMETHODFILE(Context& c);
bool LOADFILEDATA(Context& c);
void DOSYMMETRY(Context& c);
bool SEEKREPEATINGPATTERNS(Context& c);
bool CHECKANDPRINTCALLTYPES(Context& c);
char BELLSYMBOL(std::int32_t place);
void PAD(Context& c, std::int32_t r);

}  // namespace qn
