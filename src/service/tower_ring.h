// Key delivery's view of the tower link, answered by the link's routines.
#pragma once

#include <memory>
#include <vector>

#include "keyout/tower_ring.h"

namespace qn {

struct Program;
class KeyQueue;

std::unique_ptr<TowerRing> make_tower_ring(Program& program);
// A bell of the band: over the tower link, when one is in use, as itself
// at the stroke the tower holds it (keys: the bell's queue, whose stroke
// the monitor output shows); else its key goes to the ringing program's page.
std::unique_ptr<TowerRing> make_band_ring(Program& program, int bell, const KeyQueue& keys);
// The band's bells (empty: none) for the link, joined once for them all: a
// link already running starts again when they changed.
void hand_band_to_link(Program& program, std::vector<int> bells);

}  // namespace qn
