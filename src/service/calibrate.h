// A complete calibration of the program: its port, lines and sensors, then
// the default settings, the target and the settings file.
#pragma once

namespace qn {

struct Program;

void calibrate(Program& program, bool full);

}  // namespace qn
