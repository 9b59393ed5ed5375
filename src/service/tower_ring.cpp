#include "service/tower_ring.h"

#include "core/context.h"
#include "link/tower.h"

namespace qn {

namespace {

class LinkRing : public TowerRing {
public:
    explicit LinkRing(Context& c) : c_(c) {}
    bool in_use() const override { return tower_link_in_use(c_); }
    void ring(char key) override { ring_key_over_link(c_, key); }
    void ask() override { ask_tower_link(c_); }
    void restart() override { restart_tower_link(c_); }

private:
    Context& c_;
};

}  // namespace

std::unique_ptr<TowerRing> make_tower_ring(Context& c) { return std::make_unique<LinkRing>(c); }

}  // namespace qn
