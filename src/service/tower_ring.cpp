#include "service/tower_ring.h"

#include "service/program.h"
#include "link/tower.h"
#include "strokes/key_queue.h"
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

// The target menu and its restart stay with the program's own ring.
class BandRing : public TowerRing {
public:
    BandRing(Program& program, int bell, const KeyQueue& keys) : program_(program), bell_(bell), keys_(keys) {}
    bool in_use() const override { return program_.tower->in_use(); }
    void ring(char) override { program_.tower->ring_bell(bell_, keys_.handstroke()); }
    void ask() override {}
    void restart() override {}

private:
    Program& program_;
    int bell_;
    const KeyQueue& keys_;
};

}  // namespace

std::unique_ptr<TowerRing> make_tower_ring(Program& program) { return std::make_unique<LinkRing>(program); }
std::unique_ptr<TowerRing> make_band_ring(Program& program, int bell, const KeyQueue& keys) {
    return std::make_unique<BandRing>(program, bell, keys);
}

void hand_band_to_link(Program& program, std::vector<int> bells) {
    if (bells == program.tower->band()) return;
    program.tower->set_band(std::move(bells));
    program.tower->restart();
}

}  // namespace qn
