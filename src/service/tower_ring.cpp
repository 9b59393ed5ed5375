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
    explicit LinkRing(Program& program) : program_(program) {}
    bool in_use() const override { return program_.tower->in_use(); }
    void ring(char key) override { program_.tower->ring_key(key, program_.strikes->keys().handstroke()); }
    void ask() override { program_.tower->ask_settings(); }
    void restart() override { program_.tower->restart(); }

private:
    Program& program_;
};

}  // namespace

std::unique_ptr<TowerRing> make_tower_ring(Program& program) { return std::make_unique<LinkRing>(program); }

}  // namespace qn
