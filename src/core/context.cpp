#include "core/context.h"

#include <cstdio>
#include <cstdlib>

#include "link/session.h"
#include "runlog/strike_log.h"
#include "runlog/striking_files.h"
#include "striking/recorder.h"
#include "strokes/strike_path.h"
#include "ui/big_counter.h"
#include "ui/monitor_region.h"
#include "ui/strike_notices.h"
#include "ui/striking_summary.h"

namespace qn {

void bounds_failure(long index, long lo, long hi) {
    std::fprintf(stderr, "internal error: table index %ld outside %ld..%ld\n", index, lo, hi);
    std::fflush(stderr);
    std::abort();
}

Context::Context(platform::Platform& p) : plat(p) {}
Context::~Context() = default;

}  // namespace qn
