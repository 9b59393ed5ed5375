// The tower link as key delivery sees it: whether the keys ring a tower
// instead of a window, ringing one, and the link's part of the target menu.
// The service wires it to the link.
#pragma once

namespace qn {

class TowerRing {
public:
    virtual ~TowerRing() = default;
    virtual bool in_use() const = 0;
    virtual void ring(char key) = 0;
    // A Ringing Room entry was chosen: the tower to ring, if any.
    virtual void ask() = 0;
    // The target changed: a link that runs starts again for it.
    virtual void restart() = 0;
};

}  // namespace qn
