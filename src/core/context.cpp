#include "core/context.h"

#include <cstdio>
#include <cstdlib>

#include "service/run_end.h"
#include "autoring/automatic_ringing.h"
#include "config/configfile.h"
#include "link/tower.h"
#include "ui/tower_line.h"
#include "core/scheduling.h"
#include "keyout/dispatch.h"
#include "keyout/menus.h"
#include "link/session.h"
#include "runlog/sensing_log.h"
#include "runlog/delivery_log.h"
#include "runlog/strike_log.h"
#include "serial/serial_thread.h"
#include "runlog/striking_files.h"
#include "striking/recorder.h"
#include "strokes/strike_path.h"
#include "console/bignumber.h"
#include "strokes/watchports.h"
#include "ui/big_counter.h"
#include "ui/delivery_notices.h"
#include "ui/monitor_region.h"
#include "ui/port_lost_notice.h"
#include "ui/strike_notices.h"
#include "ui/striking_summary.h"

namespace qn {

void bounds_failure(long index, long lo, long hi) {
    std::fprintf(stderr, "internal error: table index %ld outside %ld..%ld\n", index, lo, hi);
    std::fflush(stderr);
    std::abort();
}

Context::Context(platform::Platform& p)
    : plat(p),
      ending(std::make_unique<RunEnd>(*this)),
      waiting(std::make_unique<MainThreadWaiting>(*this)),
      console(screen, p.console, *waiting, *ending),
      dialog(console),
      clock(*p.clock, *p.threads, *p.wait),
      ports(*p.serial, run_log),
      sensing(ports, event_ring, clock, cfg, run_log, dialog, *p.serial, *p.wait, *p.threads,
              [this] { ask_for_realtime(plat.scheduling, run_log, TimingThread::Serial); }),
      settings_file(std::make_unique<SettingsFile>(p, run_log, dialog)),
      target_window(*p.windows, dialog, delivery_report, cfg, target),
      key_typer(*p.keyboard, delivery_report) {}
Context::~Context() = default;

}  // namespace qn
