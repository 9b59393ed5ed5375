// Key delivery's view of the tower link, answered by the link's routines.
#pragma once

#include <memory>

#include "keyout/tower_ring.h"

namespace qn {

struct Program;

std::unique_ptr<TowerRing> make_tower_ring(Program& c);

}  // namespace qn
