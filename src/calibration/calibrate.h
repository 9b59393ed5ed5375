// A complete calibration of the program: its port, lines and sensors, then
// the default settings, the target and the settings file.
#pragma once

#include <memory>

#include "calibration/calibration.h"

namespace qn {

struct Context;

// The host of a calibration on the program's state.
class ProgramCalibrationHost : public CalibrationHost {
public:
    explicit ProgramCalibrationHost(Context& c) : c_(c) {}
    std::int64_t now_us() override;
    std::int64_t now_ms() override;
    void wait_ms(std::int32_t ms, std::uint32_t sources) override;
    bool key_waiting() override;
    bool keyboard_closed() override;
    void start_serial_thread(PortHandle h, const PerModemLine<bool>& lines) override;
    void reset_event_ring() override;

private:
    Context& c_;
};

// A calibration of the program's ports into its settings, with its host.
struct ProgramCalibration {
    explicit ProgramCalibration(Context& c);
    ProgramCalibrationHost host;
    Calibration calibration;
};

void calibrate(Context& c, bool full);

}  // namespace qn
