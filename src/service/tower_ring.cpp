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
    explicit LinkRing(Program& c) : c_(c) {}
    bool in_use() const override { return c_.tower->in_use(); }
    void ring(char key) override { c_.tower->ring_key(key, c_.strikes->keys().handstroke()); }
    void ask() override { c_.tower->ask_settings(); }
    void restart() override { c_.tower->restart(); }

private:
    Program& c_;
};

// The target menu and its restart stay with the program's own ring.
class BandRing : public TowerRing {
public:
    BandRing(Program& c, int bell, const KeyQueue& keys) : c_(c), bell_(bell), keys_(keys) {}
    bool in_use() const override { return c_.tower->in_use(); }
    void ring(char) override { c_.tower->ring_bell(bell_, keys_.handstroke()); }
    void ask() override {}
    void restart() override {}

private:
    Program& c_;
    int bell_;
    const KeyQueue& keys_;
};

}  // namespace

std::unique_ptr<TowerRing> make_tower_ring(Program& c) { return std::make_unique<LinkRing>(c); }
std::unique_ptr<TowerRing> make_band_ring(Program& c, int bell, const KeyQueue& keys) {
    return std::make_unique<BandRing>(c, bell, keys);
}

void hand_band_to_link(Program& c, std::vector<int> bells) {
    if (bells == c.tower->band()) return;
    c.tower->set_band(std::move(bells));
    c.tower->restart();
}

}  // namespace qn
