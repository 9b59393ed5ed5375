// The simulated practice bell: the ringer's blows, the sensors' line changes
// with their real shapes (or the interface box's characters), the faults
// asked for, and the truth of every blow, against which the keys the
// program sends are judged.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/sim_time.h"

namespace qn::platform::sim {

inline constexpr int kMaxSimSensors = 4;

enum class InputMode { Signals, Data };
// Pulse: the line rests OFF and each sensor gives an ON pulse per stroke.
// RestOn: the line rests ON and each sensor gives an OFF pulse.
// OnOff: a handbell's single switch: the handstroke turns it ON and the
// backstroke OFF.
enum class SensorStyle { Pulse, RestOn, OnOff };

struct Faults {
    double bounce = 0;      // chance that a sensor edge bounces (data mode: that the box repeats a character)
    double transients = 0;  // chance per row of a pulse shorter than 2 ms on the line at rest (signals mode)
    double missed = 0;      // missed strikes per service row: one in each block of 1/rate rows
    double spurious = 0;    // spurious strikes per service row, likewise
    int on_at_start = 0;    // the line is held active from the start until the ringer's nth pull ends
};

struct BellConfig {
    InputMode mode = InputMode::Signals;
    SensorStyle style = SensorStyle::Pulse;
    int sensors = 1;
    std::uint32_t line = 0x10;  // the modem status bit the sensors drive (CTS)
    double pulse_ms = 50;
    // A bouncing edge settles within this. Within the program's 2 ms
    // re-check the bounce is filtered out; longer, it is not always.
    double bounce_ms = 1.8;
    double sensor_gap_ms = 150;  // between the pulses of successive sensors
    // From the centre of the last sensor's pulse to the blow; below 0 the
    // program's default key delay (380 ms with one sensor, 80 with more, 0
    // for a handbell switch), so that its keys fall on the blows.
    double lead_ms = -1;
    char data_char = '1';
    Faults faults;
    std::uint64_t seed = 1;

    double lead() const;
};

// How far the ringer's blows are from where they belong, in ms (+ late):
// every blow, handstrokes besides, a place besides, and a normally spread
// error of spread_ms (its standard deviation) on top.
struct RingerBias {
    double late_ms = 0;
    double hand_ms = 0;
    double spread_ms = 0;
    std::array<double, 17> place_ms{};  // by place, 1..16

    double at(bool hand, int place) const;  // the mean of a blow's error
};

// Rounds on `bells` bells at a peal speed, the bell in its place, with the
// handstroke gap of one blow.
struct Rhythm {
    int bells = 8;
    int place = 1;
    double peal_minutes = 180;
    double jitter_ms = 0;
    RingerBias bias;
    std::int64_t blow_us() const;
};

// Ringing with the program's automatic bells instead of rounds on its own:
// the ringer's bell and the rows the program rings from the first row of
// rounds, as the touch file gives them (a ringer knows the touch). The beat
// it takes from the other bells' keys as they reach the ringing program.
struct FollowPlan {
    int bell = 1;
    int bells = 0;
    std::vector<std::string> rows;
};

struct ServicePlan {
    Rhythm rhythm;
    bool with_automatic_bells = false;  // each touch follows a FollowPlan, not rounds
    long rows = -1;       // rows to ring; -1: no end
    double seconds = -1;  // seconds to ring; -1: no end
    int touch_min = 60;   // rows rung between pauses
    int touch_max = 120;
    double pause_s = 8;   // a pause over 6 s ends a touch
    // A band's bells keep one beat: each touch starts a pause after the
    // last touch's whole rows, not after this bell's own last blow, and
    // every touch is touch_min rows long.
    bool common_beat = false;
};

enum class StrikeKind { Calibration, Real, Missed, Spurious };

struct Strike {
    std::int64_t time_us = 0;  // the blow (for a spurious strike, when it seemed to be)
    std::int64_t ideal_us = 0;  // where it belonged, before the ringer's bias and spread
    int place = 0;              // its place in the row
    bool hand = true;
    StrikeKind kind = StrikeKind::Real;
    long row = 0;               // service row from 1; 0 for calibration pulls
    int touch = 0;              // service touch from 1
    bool after_missed = false;  // the next blow after a missed one, in the same touch
    // When each sensor's signal reached the port (the signal edge, or the
    // end of the box's character); -1 when it gave none.
    std::array<std::int64_t, kMaxSimSensors> signal_us{-1, -1, -1, -1};
};

struct DataByte {
    std::int64_t arrival_us;
    char ch;
};

struct BellCounts {
    long bounces = 0;
    long transients = 0;
    long missed = 0;
    long spurious = 0;
    long pulls = 0;
};

// Every member is called with the time's lock held.
class SimBell {
public:
    SimBell(SimTime& time, const BellConfig& cfg);

    const BellConfig& config() const { return cfg_; }

    // ---- what the ringer does ----
    // One whole pull, handstroke then backstroke, its first edge no earlier
    // than from. Returns when its last signal is over.
    std::int64_t ring_pull(std::int64_t from, const Rhythm& r);
    void start_service(std::int64_t from, const ServicePlan& plan);
    bool service_started() const { return svc_.on; }
    // With automatic bells: the next touch follows the plan, once the beat
    // has been heard. following() is false again once its rows are rung.
    void follow(const FollowPlan& plan, std::int64_t from_us);
    bool following() const { return follow_.on; }
    // A key reached the ringing program at t: another bell, or a call.
    void heard(std::int64_t t, char key);
    long rows_rung() const { return svc_.rows_done; }
    std::int64_t last_blow_us() const { return svc_.prev_time; }
    // The last blow of a service with an end; kNever while it has none.
    std::int64_t service_end();

    // ---- what the port sees ----
    std::uint32_t word_at(std::int64_t t);
    std::int64_t next_change_after(std::int64_t t);  // kNever: none to come
    // Bytes are kept for the whole run; callers keep their own place.
    const std::vector<DataByte>& bytes_until(std::int64_t t);

    // ---- the truth ----
    const std::vector<Strike>& strikes_until(std::int64_t t);
    const BellCounts& counts() const { return counts_; }
    std::int64_t blow_us() const { return svc_.plan.rhythm.blow_us(); }

private:
    struct Edge {
        std::int64_t t;
        bool active;
    };
    struct FaultBlock {
        long end = 0;
        long target = 0;
        bool placed = false;
    };
    struct Service {
        bool on = false;
        bool finished = false;
        ServicePlan plan;
        std::int64_t end_limit = kNever;
        long rows_done = 0;
        int touch = 0;
        int touch_len = 0;
        int touch_pos = 0;
        std::int64_t touch_t0 = 0;
        std::int64_t prev_time = 0;
        bool prev_missed = false;
        bool spurious_next = false;  // a spurious strike goes before the next blow
        long last_fault_row = -1000;
        FaultBlock missed_block, spurious_block;
    };

    // The beat heard from the automatic bells: beats are numbered from the
    // first pull's, 2N + 1 to a pull with the handstroke gap last.
    struct Follow {
        bool on = false;
        FollowPlan plan;
        std::int64_t last_beat = 0;   // of the keys heard so far
        std::int64_t last_heard = 0;
        std::int64_t from_us = 0;     // keys before it are the last touch's
        int keys = 0;                 // heard: a line through (beat, time) once two are
        double first_t = 0, sb = 0, st = 0, sbb = 0, sbt = 0;
        std::size_t next_row = 0;     // the next row the ringer rings
        bool placed = false;          // the first row it rings is chosen
    };

    double uniform();  // [0, 1)
    double normal();   // mean 0, standard deviation 1
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    std::int64_t first_edge_offset() const;  // blow to its first signal, negative

    void ensure(std::int64_t t);
    bool generate_next();
    bool generate_following();
    std::int64_t beat_time(std::int64_t beat) const;
    int place_in(std::size_t row) const;
    void start_touch();
    bool fault_due(FaultBlock& b, double rate, long row);
    bool fault_allowed(long row) const;
    Strike emit_strike(std::int64_t blow, bool hand, bool with_signals, StrikeKind kind);
    void add_edge(std::int64_t t, bool active, bool may_bounce);
    std::int64_t add_byte(std::int64_t event, bool may_bounce);  // returns the arrival
    void maybe_transient(std::int64_t from, std::int64_t to);
    void pull_done();

    SimTime& time_;
    BellConfig cfg_;
    std::uint64_t rng_;
    bool holding_ = false;  // the line is held active
    std::vector<Edge> edges_;
    std::vector<DataByte> bytes_;
    std::int64_t last_t_ = 0;        // the latest edge or byte so far
    std::int64_t line_free_us_ = 0;  // the box's serial line is busy until then
    std::vector<Strike> strikes_;
    BellCounts counts_;
    Service svc_;
    Follow follow_;
};

}  // namespace qn::platform::sim
