// Where the console's areas lie, in screen lines from 1.
#pragma once

namespace qn {

inline constexpr int kScratchFirstLine = 9;
inline constexpr int kScratchLastLine = 20;
inline constexpr int kBigNumberLastLine = 18;

}  // namespace qn
