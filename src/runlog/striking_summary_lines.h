// A touch's striking in a few lines, for the service screen and the run
// log: the errors at each stroke, the worst blows, the rhythm and the
// suggested delay.
#pragma once

#include <string>
#include <vector>

#include "striking/records.h"

namespace qn {

// The summary's lines, each within a screen line: a longer one goes on,
// indented, on the lines under it.
std::vector<std::string> striking_summary_lines(const TouchStriking& t);
// The run log's: the summary's and, for a band, a line per bell.
std::vector<std::string> striking_log_lines(const TouchStriking& t);
// Lines too long for the screen broken at a blank and indented.
std::vector<std::string> wrapped_screen_lines(const std::vector<std::string>& lines);

}  // namespace qn
