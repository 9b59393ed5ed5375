#include "platform/sim/bell.h"

#include <algorithm>
#include <cmath>

namespace qn::platform::sim {

namespace {

// 2400 bit/s, ten bits a character (start, eight data, stop).
constexpr std::int64_t kByteUs = 4167;
// Service strikes are made this far ahead of the time asked about.
constexpr std::int64_t kHorizonUs = 5000000;
// The program judges a strike's spacing only after eight in a touch, and a
// fault needs good strikes around it to be judged as one.
constexpr int kFirstFaultPos = 12;
constexpr long kFaultSpacing = 10;

std::int64_t us(double ms) { return static_cast<std::int64_t>(std::llround(ms * 1000.0)); }

}  // namespace

double BellConfig::lead() const {
    if (lead_ms >= 0) return lead_ms;
    if (style == SensorStyle::OnOff) return 0;
    return sensors <= 1 ? 380 : 80;
}

double RingerBias::at(bool hand, int place) const {
    const double in_place = place >= 1 && place < static_cast<int>(place_ms.size()) ? place_ms[static_cast<std::size_t>(place)] : 0.0;
    return late_ms + (hand ? hand_ms : 0.0) + in_place;
}

std::int64_t Rhythm::blow_us() const {
    const int n = std::max(bells, 1);
    return static_cast<std::int64_t>(peal_minutes * 60e6 / (2520.0 * (2 * n + 1)));
}

SimBell::SimBell(SimTime& time, const BellConfig& cfg) : time_(time), cfg_(cfg), rng_(cfg.seed) {
    cfg_.sensors = std::clamp(cfg_.sensors, 1, kMaxSimSensors);
    if (cfg_.style == SensorStyle::OnOff) cfg_.sensors = 1;
    // Pulses of neighbouring sensors must not run into each other.
    cfg_.sensor_gap_ms = std::max(cfg_.sensor_gap_ms, cfg_.pulse_ms + 50);
    holding_ = cfg_.faults.on_at_start > 0 && cfg_.mode == InputMode::Signals;
}

// splitmix64: the same numbers from the same seed on every platform.
double SimBell::uniform() {
    std::uint64_t z = (rng_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 9007199254740992.0;
}

// Box-Muller: two uniforms make a normal one.
double SimBell::normal() {
    const double u = 1.0 - uniform();  // (0, 1]
    const double v = uniform();
    return std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
}

std::int64_t SimBell::first_edge_offset() const {
    const int n = cfg_.sensors;
    return -us(cfg_.lead() + (n - 1) * cfg_.sensor_gap_ms + cfg_.pulse_ms / 2);
}

// ---- edges and bytes --------------------------------------------------------------

void SimBell::add_edge(std::int64_t t, bool active, bool may_bounce) {
    t = std::max(t, last_t_ + 1);
    if (holding_) {  // the line stays active; the time still passes
        last_t_ = t;
        return;
    }
    edges_.push_back({t, active});
    last_t_ = t;
    if (!may_bounce || uniform() >= cfg_.faults.bounce) return;
    // Contact bounce: one to three brief returns, all within bounce_ms of
    // the clean edge.
    ++counts_.bounces;
    const int n = 1 + static_cast<int>(uniform() * 3);
    double parts[6];
    double sum = 0;
    for (int i = 0; i < 2 * n; ++i) sum += parts[i] = uniform(0.5, 1.5);
    const double scale = cfg_.bounce_ms * uniform(0.6, 1.0) / sum;
    std::int64_t at = t;
    for (int i = 0; i < 2 * n; ++i) {
        at += std::max<std::int64_t>(20, us(parts[i] * scale));
        edges_.push_back({at, i % 2 == 0 ? !active : active});
    }
    last_t_ = at;
}

std::int64_t SimBell::add_byte(std::int64_t event, bool may_bounce) {
    std::int64_t start = std::max(event, line_free_us_);
    line_free_us_ = start + kByteUs;
    const std::int64_t arrival = line_free_us_;
    bytes_.push_back({arrival, cfg_.data_char});
    last_t_ = std::max(last_t_, line_free_us_);
    if (may_bounce && uniform() < cfg_.faults.bounce) {
        // A box that does not debounce sends the character again.
        ++counts_.bounces;
        line_free_us_ += kByteUs;
        bytes_.push_back({line_free_us_, cfg_.data_char});
        last_t_ = line_free_us_;
    }
    return arrival;
}

void SimBell::maybe_transient(std::int64_t from, std::int64_t to) {
    if (cfg_.mode != InputMode::Signals || holding_ || cfg_.faults.transients <= 0) return;
    // Only a line at rest: a handbell switch that is ON stays so.
    if (!edges_.empty() && edges_.back().active) return;
    if (uniform() >= cfg_.faults.transients) return;
    from = std::max(from, last_t_ + 50000);
    if (to - from < 5000) return;
    const std::int64_t t = from + static_cast<std::int64_t>(uniform() * static_cast<double>(to - from));
    const std::int64_t d = us(uniform(0.1, 1.6));
    ++counts_.transients;
    edges_.push_back({t, true});
    edges_.push_back({t + d, false});
    last_t_ = t + d;
}

Strike SimBell::emit_strike(std::int64_t blow, bool hand, bool with_signals, StrikeKind kind) {
    Strike s;
    s.time_us = blow;
    s.hand = hand;
    s.kind = kind;
    if (!with_signals) return s;
    const int n = cfg_.sensors;
    const double len = cfg_.pulse_ms;
    for (int k = 0; k < n; ++k) {
        const std::int64_t centre = blow - us(cfg_.lead() + (n - 1 - k) * cfg_.sensor_gap_ms);
        if (cfg_.mode == InputMode::Data) {
            s.signal_us[static_cast<std::size_t>(k)] = add_byte(centre - us(len / 2), true);
            continue;
        }
        if (cfg_.style == SensorStyle::OnOff) {
            if (!holding_) s.signal_us[0] = std::max(centre, last_t_ + 1);
            add_edge(centre, hand, true);
            continue;
        }
        // No two pulses are quite alike.
        const std::int64_t on = centre - us(len / 2 * uniform(0.97, 1.03));
        const std::int64_t off = on + us(len * uniform(0.95, 1.05));
        if (!holding_) s.signal_us[static_cast<std::size_t>(k)] = std::max(on, last_t_ + 1);
        add_edge(on, true, true);
        add_edge(off, false, true);
    }
    return s;
}

void SimBell::pull_done() {
    ++counts_.pulls;
    if (holding_ && counts_.pulls >= cfg_.faults.on_at_start) {
        holding_ = false;
        add_edge(last_t_ + 1, false, false);
    }
}

// ---- calibration pulls ------------------------------------------------------------

std::int64_t SimBell::ring_pull(std::int64_t from, const Rhythm& r) {
    from = std::max(from, last_t_ + 100000);
    const std::int64_t hand = from - first_edge_offset() + 1000;
    const std::int64_t back = hand + r.bells * r.blow_us();
    strikes_.push_back(emit_strike(hand, true, true, StrikeKind::Calibration));
    maybe_transient(hand - first_edge_offset() / 4, back + first_edge_offset() - 50000);
    strikes_.push_back(emit_strike(back, false, true, StrikeKind::Calibration));
    pull_done();
    time_.changed();
    return last_t_;
}

// ---- service ------------------------------------------------------------------------

void SimBell::start_service(std::int64_t from, const ServicePlan& plan) {
    svc_ = Service{};
    svc_.on = true;
    svc_.plan = plan;
    svc_.plan.touch_min = std::max(2, plan.touch_min);
    svc_.plan.touch_max = std::max(svc_.plan.touch_min, plan.touch_max);
    svc_.prev_time = std::max(from, last_t_ + 100000) - first_edge_offset();
    svc_.touch_t0 = svc_.prev_time;
    if (plan.seconds > 0) svc_.end_limit = svc_.touch_t0 + static_cast<std::int64_t>(plan.seconds * 1e6);
    time_.changed();
}

std::int64_t SimBell::service_end() {
    if (!svc_.on || svc_.plan.with_automatic_bells || (svc_.plan.rows < 0 && svc_.plan.seconds <= 0)) return kNever;
    while (generate_next()) {
    }
    return strikes_.empty() ? 0 : strikes_.back().time_us;
}

void SimBell::ensure(std::int64_t t) {
    while (svc_.on && !svc_.finished && svc_.prev_time <= t + kHorizonUs)
        if (!generate_next()) break;
}

void SimBell::start_touch() {
    Service& s = svc_;
    const ServicePlan& p = s.plan;
    int len = p.common_beat ? p.touch_min : p.touch_min + static_cast<int>(uniform() * (p.touch_max - p.touch_min + 1));
    len += len % 2;  // whole pulls: every touch starts at handstroke
    if (p.rows >= 0) len = static_cast<int>(std::min<long>(len, p.rows - s.rows_done));
    const std::int64_t pause = static_cast<std::int64_t>(p.pause_s * 1e6);
    if (s.touch > 0 && p.common_beat) {
        const int n = std::max(p.rhythm.bells, 1);
        s.touch_t0 += (s.touch_len / 2) * (2 * n + 1) * p.rhythm.blow_us() + pause;
    } else if (s.touch > 0) {
        s.touch_t0 = s.prev_time + pause;
    }
    ++s.touch;
    s.touch_len = len;
    s.touch_pos = 0;
    s.prev_missed = false;
    s.spurious_next = false;
}

bool SimBell::fault_due(FaultBlock& b, double rate, long row) {
    if (rate <= 0) return false;
    const long block = std::max(20L, std::lround(1.0 / rate));
    if (row >= b.end) {
        b.end = row + block;
        b.target = row + static_cast<long>(uniform() * static_cast<double>(block));
        b.placed = false;
    }
    return !b.placed && row >= b.target;
}

bool SimBell::fault_allowed(long row) const {
    const Service& s = svc_;
    // A handbell switch has no stroke of its own to miss or add: one lost
    // or extra edge turns every later stroke round.
    if (cfg_.style == SensorStyle::OnOff && cfg_.mode == InputMode::Signals) return false;
    return s.touch_pos >= kFirstFaultPos && s.touch_pos <= s.touch_len - 4 && row - s.last_fault_row >= kFaultSpacing;
}

bool SimBell::generate_next() {
    Service& s = svc_;
    if (!s.on || s.finished) return false;
    if (s.plan.with_automatic_bells) return generate_following();
    if (s.plan.rows >= 0 && s.rows_done >= s.plan.rows) {
        s.finished = true;
        return false;
    }
    if (s.touch == 0 || s.touch_pos >= s.touch_len) start_touch();
    const Rhythm& r = s.plan.rhythm;
    const std::int64_t b = r.blow_us();
    const int n = std::max(r.bells, 1);
    const int pos = s.touch_pos;
    const bool hand = pos % 2 == 0;
    const int place = std::clamp(r.place, 1, n);
    const std::int64_t ideal = s.touch_t0 + (pos / 2) * (2 * n + 1) * b + b + (place - 1) * b + (hand ? 0 : n * b);
    std::int64_t blow = ideal;
    if (r.jitter_ms > 0) blow += us(uniform(-r.jitter_ms, r.jitter_ms));
    blow += us(r.bias.at(hand, place) + (r.bias.spread_ms > 0 ? r.bias.spread_ms * normal() : 0.0));
    if (blow > s.end_limit) {
        s.finished = true;
        return false;
    }
    const long row = s.rows_done + 1;

    // Between the last blow and this one: a spurious strike, a transient.
    if (s.spurious_next) {
        const std::int64_t at = s.prev_time + static_cast<std::int64_t>(uniform(0.3, 0.45) * static_cast<double>(blow - s.prev_time));
        Strike sp = emit_strike(at, hand, true, StrikeKind::Spurious);
        sp.row = row - 1;
        sp.touch = s.touch;
        strikes_.push_back(sp);
        ++counts_.spurious;
        s.spurious_next = false;
    }
    if (pos > 0) maybe_transient(s.prev_time - first_edge_offset() / 4, blow + first_edge_offset() - 50000);

    bool missed = false;
    if (fault_due(s.missed_block, cfg_.faults.missed, row) && fault_allowed(row)) {
        missed = true;
        s.missed_block.placed = true;
        s.last_fault_row = row;
        ++counts_.missed;
    } else if (fault_due(s.spurious_block, cfg_.faults.spurious, row) && fault_allowed(row)) {
        s.spurious_next = true;
        s.spurious_block.placed = true;
        s.last_fault_row = row;
    }
    Strike st = emit_strike(blow, hand, !missed, missed ? StrikeKind::Missed : StrikeKind::Real);
    st.ideal_us = ideal;
    st.place = place;
    st.row = row;
    st.touch = s.touch;
    st.after_missed = s.prev_missed && pos > 0;
    strikes_.push_back(st);
    if (!hand) pull_done();

    s.prev_missed = missed;
    s.prev_time = blow;
    ++s.touch_pos;
    ++s.rows_done;
    return true;
}

// ---- ringing with the automatic bells ------------------------------------------------

void SimBell::follow(const FollowPlan& plan, std::int64_t from_us) {
    follow_ = Follow{};
    follow_.on = plan.bells > 0 && !plan.rows.empty();
    follow_.plan = plan;
    follow_.from_us = from_us;
    ++svc_.touch;
    time_.changed();
}

// The key is matched with the next beat at which its bell rings, so a key
// lost on the way costs one point of the line, not the count of beats.
void SimBell::heard(std::int64_t t, char key) {
    Follow& f = follow_;
    if (!f.on || t < f.from_us) return;
    const char symbol = key == '-' ? 'E' : key == '=' ? 'T' : key;
    if (!(symbol >= '0' && symbol <= '9') && symbol != 'E' && symbol != 'T') return;
    const int n = f.plan.bells, per = 2 * n + 1;
    for (std::int64_t beat = f.last_beat + 1; beat <= f.last_beat + 2 * per; ++beat) {
        const int pos = static_cast<int>(beat % per);
        if (pos == 0) continue;
        const std::size_t row = static_cast<std::size_t>(2 * (beat / per) + (pos > n ? 1 : 0));
        const std::size_t place = static_cast<std::size_t>(pos > n ? pos - n : pos);
        if (row >= f.plan.rows.size()) return;
        if (place > f.plan.rows[row].size() || f.plan.rows[row][place - 1] != symbol) continue;
        if (f.keys == 0) f.first_t = static_cast<double>(t);
        const double x = static_cast<double>(beat), y = static_cast<double>(t) - f.first_t;
        f.sb += x;
        f.st += y;
        f.sbb += x * x;
        f.sbt += x * y;
        ++f.keys;
        f.last_beat = beat;
        f.last_heard = t;
        if (f.keys >= 2) time_.changed();
        return;
    }
}

// The least-squares line through the beats heard.
std::int64_t SimBell::beat_time(std::int64_t beat) const {
    const Follow& f = follow_;
    const double n = f.keys;
    const double slope = (n * f.sbt - f.sb * f.st) / (n * f.sbb - f.sb * f.sb);
    const double intercept = (f.st - slope * f.sb) / n;
    return static_cast<std::int64_t>(std::llround(f.first_t + intercept + slope * static_cast<double>(beat)));
}

int SimBell::place_in(std::size_t row) const {
    const std::string& r = follow_.plan.rows[row];
    const std::size_t at = r.find(follow_.plan.bell <= 9 ? static_cast<char>('0' + follow_.plan.bell)
                                  : follow_.plan.bell == 10 ? '0' : follow_.plan.bell == 11 ? 'E' : 'T');
    return at == std::string::npos ? 0 : static_cast<int>(at) + 1;
}

// The ringer comes in at the first handstroke it can still reach once it has
// the beat (its sensors speak well before the blow), and rings whole pulls
// to the end of the rows.
bool SimBell::generate_following() {
    Follow& f = follow_;
    Service& s = svc_;
    if (!f.on || f.keys < 2) return false;
    const int n = f.plan.bells;
    const auto beat_of = [n](std::size_t row, int place) {
        return static_cast<std::int64_t>(row / 2) * (2 * n + 1) + (row % 2 == 0 ? 0 : n) + place;
    };
    for (;;) {
        const std::size_t row = f.next_row;
        if ((row | 1) >= f.plan.rows.size()) {
            f.on = false;
            return false;
        }
        ++f.next_row;
        const int place = place_in(row);
        if (place == 0) continue;
        const bool hand = row % 2 == 0;
        const std::int64_t ideal = beat_time(beat_of(row, place));
        if (!f.placed && (!hand || ideal + first_edge_offset() < std::max(f.last_heard, last_t_) + 300000)) continue;
        f.placed = true;
        const RingerBias& bias = s.plan.rhythm.bias;
        const std::int64_t blow = ideal + us(bias.at(hand, place) + (bias.spread_ms > 0 ? bias.spread_ms * normal() : 0.0));
        Strike st = emit_strike(blow, hand, true, StrikeKind::Real);
        st.ideal_us = ideal;
        st.place = place;
        st.row = ++s.rows_done;
        st.touch = s.touch;
        strikes_.push_back(st);
        if (!hand) pull_done();
        s.prev_time = blow;
        return true;
    }
}

// ---- what the port sees ---------------------------------------------------------------

std::uint32_t SimBell::word_at(std::int64_t t) {
    if (cfg_.mode == InputMode::Data) return 0;
    ensure(t);
    bool active = cfg_.faults.on_at_start > 0;
    auto it = std::upper_bound(edges_.begin(), edges_.end(), t, [](std::int64_t v, const Edge& e) { return v < e.t; });
    if (it != edges_.begin()) active = std::prev(it)->active;
    const bool on = cfg_.style == SensorStyle::RestOn ? !active : active;
    return on ? cfg_.line : 0u;
}

std::int64_t SimBell::next_change_after(std::int64_t t) {
    if (cfg_.mode == InputMode::Data) return kNever;
    for (;;) {
        ensure(t);
        auto it =
            std::upper_bound(edges_.begin(), edges_.end(), t, [](std::int64_t v, const Edge& e) { return v < e.t; });
        if (it != edges_.end()) return it->t;
        if (!generate_next()) return kNever;
    }
}

const std::vector<DataByte>& SimBell::bytes_until(std::int64_t t) {
    ensure(t);
    return bytes_;
}

const std::vector<Strike>& SimBell::strikes_until(std::int64_t t) {
    ensure(t);
    return strikes_;
}

}  // namespace qn::platform::sim
