#include "core/context.h"

#include <cstdio>
#include <cstdlib>

#include "link/session.h"

namespace qn {

void bounds_failure(long index, long lo, long hi) {
    std::fprintf(stderr, "internal error: table index %ld outside %ld..%ld\n", index, lo, hi);
    std::fflush(stderr);
    std::abort();
}

Context::Context(platform::Platform& p) : plat(p) {}
Context::~Context() = default;

std::unique_ptr<Context> make_context(platform::Platform& p) { return std::make_unique<Context>(p); }

}  // namespace qn
