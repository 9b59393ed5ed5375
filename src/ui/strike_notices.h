// What the strike path has to say on the scratch lines of the service
// screen: a key that may have been lost to a clash of events or to blows
// closer than the key delay, and the event
// log written at the end of a touch.
#pragma once

#include "core/strike_records.h"

namespace qn {

class RunLog;
class Screen;

// Hears each record after the run log has written it, so the end of a
// touch says whether its event list reached the file.
class StrikeNotices : public StrikeReport {
public:
    StrikeNotices(Screen& screen, const RunLog& log) : screen_(screen), log_(log) {}

    void events_clashed(const EventsClashed& r) override;
    void key_overrun(const KeyOverrun& r) override;
    void touch_ended(const TouchEnded& r) override;

private:
    Screen& screen_;
    const RunLog& log_;
};

}  // namespace qn
