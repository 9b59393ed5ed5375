// The simulated ringer. It reads the program's screen as a person would and
// acts: when calibration asks for a pull it rings exactly one handstroke and
// backstroke and then presses a key; it answers the other questions with its
// configured answers; once the service screen is up it rings rounds, with
// pauses now and then, and at the end of a run of set length it quits.
// Interactive, it only rings: the person at the keyboard answers.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "console/screen.h"
#include "platform/sim/bell.h"
#include "platform/sim/sim_console.h"

namespace qn::sim {

struct RingerConfig {
    bool autonomous = true;
    platform::sim::ServicePlan plan;  // the rhythm of calibration pulls too
    char any_key = ' ';
    int target = 1;            // the answer to the target menu
    char handbell = 'y';       // the answer to the handbell question
    double reaction_s = 0.8;   // from seeing a question to acting
    double service_delay_s = 2;  // from the service screen to the first pull
    int max_repeats = 3;       // calibration pulls asked again before giving up with Q
    double quit_after_s = -1;  // presses Q this long after the start whatever happens (-1: never)
    std::int64_t tower = 0;    // the answer to the tower question (0: Enter, keys to the browser)
    int place = 1;             // and to the question of its bell
    // With a touch file the ringer sets up automatic ringing of the other
    // bells with Z, starts it with A and rings its bell (its place in
    // rounds) with them, a touch at a time.
    std::string touch_file;
    bool take_delay = false;  // K after each touch, before the next
    // The rows the program loaded, read on the program's main thread.
    std::function<platform::sim::FollowPlan()> touch_rows;
    // A band's other ringers start with this one's first pull (the time's
    // lock held).
    std::function<void(std::int64_t from_us)> on_service;
};

class SimRinger : public platform::sim::KeySource {
public:
    SimRinger(platform::sim::SimTime& time, platform::sim::SimBell& bell, const Screen& screen, RingerConfig cfg);

    void poll() override;
    bool key_ready() override;
    int take_key() override;
    std::int64_t next_key_at() override { return keys_.empty() ? platform::sim::kNever : keys_.front().due_us; }
    bool input_ended() override;

    bool in_service() const { return in_service_; }
    // Why it quit before its ringing was done ("" when it did not).
    const std::string& gave_up_why() const { return gave_up_why_; }
    int pulls_asked() const { return pulls_asked_; }

    // The question the screen is asking, as the ringer recognises it.
    enum class Prompt {
        None, PressAnyKey, RingStage1, RingOnce, Handbell, TargetMenu, PortRetry, Interchanged, PressEnter,
        TargetNotFound, QuitOnly, TowerId, TowerBell, TowerOther
    };
    static Prompt recognise(const Screen& screen, int* line);

private:
    struct Planned {
        std::int64_t due_us;
        int key;
        bool cancel_on_change;  // dropped if the screen has changed since it was planned
        std::uint64_t screen_hash;
    };

    void act(Prompt p, int line, std::int64_t now);
    void ring_then_press(std::int64_t now);
    void press(std::int64_t at, int key, bool cancel_on_change);
    void type_number(std::int64_t at, int n);
    void start_service(std::int64_t now);
    void ring_with_automatic_bells(std::int64_t now);
    void answer_set_up(std::int64_t now);
    void start_touch(std::int64_t at);
    void give_up(std::int64_t at, const std::string& why);
    std::string screen_line_with(const char* part) const;
    std::string screen_text_between(const char* from, const char* to) const;
    void drop_stale_keys();
    std::uint64_t screen_hash() const;

    platform::sim::SimTime& time_;
    platform::sim::SimBell& bell_;
    const Screen& screen_;
    RingerConfig cfg_;
    std::deque<Planned> keys_;
    bool in_service_ = false;
    bool quit_planned_ = false;
    bool gave_up_ = false;
    int pulls_asked_ = 0;
    int target_menus_ = 0;
    int not_found_ = 0;
    // The question last acted on, so it is not answered twice.
    Prompt last_prompt_ = Prompt::None;
    int last_line_ = 0;
    std::uint64_t last_hash_ = 0;
    std::int64_t started_us_ = -1;
    // Ringing with automatic bells: set up asked for, touches started.
    bool set_up_asked_ = false;
    int touches_started_ = 0;
    std::int64_t follow_from_us_ = -1;  // a touch started whose A the program has not yet taken
    std::int64_t service_from_us_ = 0;
    bool file_given_ = false;
    std::int64_t touch_from_us_ = 0;  // the last touch's A, and the rows rung before it
    long rows_before_touch_ = 0;
    std::string gave_up_why_;
};

}  // namespace qn::sim
