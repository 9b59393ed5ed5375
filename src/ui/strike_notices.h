// What the strike path has to say on the scratch lines of the service
// screen: a key that may have been lost to a clash of events, and the event
// log written at the end of a touch.
#pragma once

#include "core/strike_records.h"

namespace qn {

class Screen;

class StrikeNotices : public StrikeReport {
public:
    explicit StrikeNotices(Screen& screen) : screen_(screen) {}

    void events_clashed(const EventsClashed& r) override;
    void touch_ended(const TouchEnded& r) override;

private:
    Screen& screen_;
};

}  // namespace qn
