// The simulated target: the ringing program that receives the keys. It
// takes each key as it comes, matches it with the blow of the simulated bell
// it stands for, and keeps the figures a ringer would care about: keys
// missing or unexplained, handstroke/backstroke turned round, and how far
// each key was from its due time. The keys of the program's automatic bells
// (the other bells and the calls) are counted apart: they stand for no blow
// of the ringer's bell and do not turn its stroke.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sim/bell.h"
#include "platform/sim/sim_desktop.h"

namespace qn::sim {

enum class KeyClass { Strike, Spurious, Doubled, Extra, Automatic };

struct KeyRecord {
    std::int64_t time_us = 0;
    char ch = '\0';
    std::string window;
    KeyClass cls = KeyClass::Extra;
    long strike = -1;           // index in the bell's strikes
    std::int64_t due_us = 0;
    double error_ms = 0;        // time sent less due time
    double from_blow_ms = 0;    // time sent less the blow
    bool alternation_error = false;
};

// When the key of a blow is due (-1: it gives none), and how long after a
// key the made-up second key of a missed blow comes. They read the
// program's settings, so they are asked on the thread that sends the keys.
// The program takes a blow for the stroke it counts, which is the bell's
// own only once the ringer has set it with H or B: a key is due by the
// delay of either stroke, and belongs to the blow it is nearer.
struct DueRule {
    std::function<std::int64_t(const platform::sim::Strike&, bool hand)> due;
    std::function<std::int64_t()> doubled_delay_us;
    // Whether a key is one of the ringer's bell (null: every key is).
    std::function<bool(char)> ringer_key;
};

struct TargetFigures {
    long keys = 0;                 // the ringer's bell's
    long strike_keys = 0;
    long spurious_keys = 0;
    long doubled_keys = 0;
    long extra_keys = 0;
    long automatic_keys = 0;       // the automatic bells' and calls', not in keys
    long strikes_without_key = 0;  // blows with a signal whose key never came
    long alternation_errors = 0;
    long blows = 0;                // service blows rung, missed ones included
    long missed = 0;
    long spurious = 0;
    long bounces = 0;
    long transients = 0;
    double median_ms = 0;
    double p99_ms = 0;
    double worst_ms = 0;           // the error furthest from zero, with its sign
    double blow_median_ms = 0;     // keys against the blows themselves
};

class SimTarget : public platform::sim::KeySink {
public:
    SimTarget(platform::sim::SimTime& time, platform::sim::SimBell& bell, DueRule rule);

    void key(std::int64_t time_us, char ch, std::string_view window) override;
    // Called after every key (to refresh a display).
    void on_key(std::function<void()> f) { on_key_ = std::move(f); }

    TargetFigures figures();
    std::vector<KeyRecord> keys();
    std::string status_line();
    std::string report();

private:
    KeyClass classify(std::int64_t t, KeyRecord& rec, const std::vector<platform::sim::Strike>& strikes);
    std::int64_t due_nearest(const platform::sim::Strike& s, std::int64_t t) const;
    void check_alternation(KeyRecord& rec, const std::vector<platform::sim::Strike>& strikes);

    platform::sim::SimTime& time_;
    platform::sim::SimBell& bell_;
    DueRule rule_;
    std::function<void()> on_key_;
    std::vector<KeyRecord> keys_;
    std::vector<char> matched_;     // per strike
    std::vector<std::int64_t> first_key_;  // per strike: when its key came
    std::vector<char> doubled_;     // per strike
    std::size_t scan_from_ = 0;
    long last_matched_ = -1;
    bool hand_next_ = true;
    long alternation_errors_ = 0;
};

}  // namespace qn::sim
