#include "runlog/sensing_log.h"

#include "core/text.h"
#include "core/text_sink.h"

namespace qn {

void SensingLog::port_lost(const PortLost& r) {
    log_.write_line("Serial port " + r.port_name + " lost (locn " + str(r.location) +
                    ") - writing the event log of the touch so far");
}

}  // namespace qn
