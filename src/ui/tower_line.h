// The tower link's line on the service screen: under the menu, or under the
// big counter's digits.
#pragma once

#include <string>

namespace qn {

class Screen;
class TowerService;
struct Settings;

class TowerLine {
public:
    TowerLine(Screen& screen, const Settings& cfg, TowerService& tower) : screen_(screen), cfg_(cfg), tower_(tower) {}

    // Once per pass of the service loop: the link's news taken and its line
    // drawn, when it changed or something else wrote over it. The screen's
    // window, cursor and colour are left as they were.
    void show();

private:
    Screen& screen_;
    const Settings& cfg_;
    TowerService& tower_;
    std::string shown_;  // the line as last drawn
    unsigned shown_generation_ = 0;
};

}  // namespace qn
