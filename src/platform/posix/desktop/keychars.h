// The characters the program types, as its key records name them.
#pragma once

#include <cstdint>

namespace qn::platform::posix {

// 'a'..'z', '0'..'9', '-' or '=' for a record's virtual-key code, else 0.
char key_char(std::uint16_t vk);

}  // namespace qn::platform::posix
