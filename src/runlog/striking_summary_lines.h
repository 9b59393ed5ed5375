// A touch's striking in a few lines, for the service screen and the run
// log: the errors at each stroke, the worst blows, the rhythm and the
// suggested delay.
#pragma once

#include <string>
#include <vector>

#include "striking/records.h"

namespace qn {

// The summary's lines, each within a screen line.
std::vector<std::string> striking_summary_lines(const TouchStriking& t);

}  // namespace qn
