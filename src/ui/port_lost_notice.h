// The scratch lines' words when the service port is lost.
#pragma once

#include "core/sensing_records.h"

namespace qn {

class Screen;

class PortLostNotice : public SensingReport {
public:
    explicit PortLostNotice(Screen& screen) : screen_(screen) {}
    void port_lost(const PortLost& r) override;

private:
    Screen& screen_;
};

}  // namespace qn
