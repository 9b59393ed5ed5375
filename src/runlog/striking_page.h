// The striking report of a touch as files a ringer keeps: one HTML page
// that needs nothing else (no scripts, no fonts, nothing fetched; the
// charts are SVG drawn here, in black on white so that they print), and a
// CSV of every blow for spreadsheets.
#pragma once

#include <string>

#include "striking/records.h"

namespace qn {

// run_log: the run log's file name, named on the page.
std::string striking_page(const TouchStriking& t, const std::string& run_log);
std::string striking_csv(const TouchStriking& t);

}  // namespace qn
