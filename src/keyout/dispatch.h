// Sending due keys, with the focus checks and doubled keys.
#pragma once

#include <cstdint>

#include "core/context.h"

namespace qn {

void DOKEYSENDING(Context& c);
// The earliest due time of a pending key that is not yet due at now_us, or
// -1 when there is none.
std::int64_t next_key_due(const Context& c, std::int64_t now_us);
void SENDAKEY(Context& c, std::int32_t I);
void RINGOVERLINK(Context& c, std::int32_t I);
bool CHECKIFHWNDOK(Context& c, WindowHandle window);
void KEYSENDING(Context& c, char key, std::int32_t I);
void DOTHEKEYACTION(Context& c, std::int32_t targetIndex, char key, std::int32_t I);

}  // namespace qn
