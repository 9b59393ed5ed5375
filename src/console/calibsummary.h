// The calibration summary, written to the console or to a file.
#pragma once

#include "core/text_sink.h"

namespace qn {

class CurrentTarget;
struct Settings;

void write_current_calibration(TextSink& out, const Settings& cfg, const CurrentTarget& target, bool easy_mode);

}  // namespace qn
