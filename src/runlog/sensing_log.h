// The sensing side in the run log.
#pragma once

#include "core/sensing_records.h"

namespace qn {

class TextSink;

class SensingLog : public SensingReport {
public:
    explicit SensingLog(TextSink& log) : log_(log) {}
    void port_lost(const PortLost& r) override;

private:
    TextSink& log_;
};

}  // namespace qn
