// The configuration menus.
#pragma once

#include <cstdint>

namespace qn {

struct Context;

void MODIFYCONFIGURATION(Context& c);
void SETSWITCHBOUNCEDELAY(Context& c);
void READANDCHANGECURRENTTARGETPROGRAMPARAMETERS(Context& c, std::int32_t progToChangeIdx);
// Bell number of a bell symbol; 0 for a character that is not one.
std::int32_t CONVBELLSYMBOLTOINTEGER(char ch);

}  // namespace qn
