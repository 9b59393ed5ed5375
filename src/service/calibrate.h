// A complete calibration of the program: its port, lines and sensors, then
// the default settings, the target and the settings file.
#pragma once

namespace qn {

struct Context;

void calibrate(Context& c, bool full);

}  // namespace qn
