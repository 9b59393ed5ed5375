#include "service/tower_ring.h"

#include "service/program.h"
#include "link/tower.h"
#include "strokes/strike_path.h"

namespace qn {

namespace {

// Key delivery's view of the tower link: a ring goes at the stroke the
// strike path has reached.
class LinkRing : public TowerRing {
public:
    explicit LinkRing(Program& c) : c_(c) {}
    bool in_use() const override { return c_.tower->in_use(); }
    void ring(char key) override { c_.tower->ring_key(key, c_.strikes->keys().handstroke()); }
    void ask() override { c_.tower->ask_settings(); }
    void restart() override { c_.tower->restart(); }

private:
    Program& c_;
};

}  // namespace

std::unique_ptr<TowerRing> make_tower_ring(Program& c) { return std::make_unique<LinkRing>(c); }

}  // namespace qn
