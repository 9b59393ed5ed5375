// Band mode in the service: each bell's path wired to its own key sender,
// the band set up at the start of service, and the command keys that name
// a bell (H and B with its number, K with each bell's suggested delay).
#pragma once

#include <cstddef>
#include <cstdint>

namespace qn {

struct Program;

// The band's paths and senders made for the target in use (none unless
// band mode is on in data mode), and what it will ring said on screen and
// in the log.
void set_up_band(Program& program);
// Bell i's character was taken: its key queued and sent when due, the
// band's row counted.
void take_band_signal(Program& program, std::size_t i);
void send_band_keys(Program& program);
// The earliest key of any bell due after now_us (-1: none).
std::int64_t next_band_key_due(const Program& program, std::int64_t now_us);
// H or B in band mode: asks for the bell and sets its stroke.
void set_band_stroke(Program& program, bool hand);
// K in band mode: each bell's delays from its line of the last report.
void take_band_delays(Program& program);

}  // namespace qn
