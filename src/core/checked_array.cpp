#include "core/checked_array.h"

#include <cstdio>
#include <cstdlib>

namespace qn {

void bounds_failure(long index, long lo, long hi) {
    std::fprintf(stderr, "internal error: table index %ld outside %ld..%ld\n", index, lo, hi);
    std::fflush(stderr);
    std::abort();
}

}  // namespace qn
