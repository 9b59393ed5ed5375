#include "sim/target.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <mutex>

namespace qn::sim {

using platform::sim::Strike;
using platform::sim::StrikeKind;

namespace {

// A key belongs to the blow whose due time is nearest, within this.
constexpr std::int64_t kMatchWindowUs = 250000;
// The made-up key of a missed blow, this near its expected time.
constexpr std::int64_t kDoubledWindowUs = 60000;
// A blow whose key is this overdue has none coming.
constexpr std::int64_t kLostAfterUs = 2000000;

std::string ms(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    std::size_t i = static_cast<std::size_t>(p * static_cast<double>(v.size() - 1) + 0.5);
    return v[std::min(i, v.size() - 1)];
}

bool keyed(const Strike& s) {
    return s.row > 0 && (s.kind == StrikeKind::Real || s.kind == StrikeKind::Spurious);
}

}  // namespace

SimTarget::SimTarget(platform::sim::SimTime& time, platform::sim::SimBell& bell, DueRule rule)
    : time_(time), bell_(bell), rule_(std::move(rule)) {}

// Of the blow's due times by the two strokes' delays, the one nearer t
// (-1: the blow gives no key).
std::int64_t SimTarget::due_nearest(const Strike& s, std::int64_t t) const {
    const std::int64_t own = rule_.due(s, s.hand), other = rule_.due(s, !s.hand);
    if (own < 0 || other < 0) return own;
    return std::llabs(t - other) < std::llabs(t - own) ? other : own;
}

KeyClass SimTarget::classify(std::int64_t t, KeyRecord& rec, const std::vector<Strike>& strikes) {
    // The second key of a missed blow follows the first by the set delay.
    if (last_matched_ >= 0) {
        const auto i = static_cast<std::size_t>(last_matched_);
        const std::int64_t expected = first_key_[i] + rule_.doubled_delay_us();
        if (strikes[i].after_missed && !doubled_[i] && std::llabs(t - expected) <= kDoubledWindowUs) {
            doubled_[i] = 1;
            rec.strike = last_matched_;
            rec.due_us = expected;
            return KeyClass::Doubled;
        }
    }
    long best = -1;
    std::int64_t best_gap = kMatchWindowUs + 1;
    for (std::size_t i = scan_from_; i < strikes.size(); ++i) {
        if (!keyed(strikes[i]) || matched_[i]) continue;
        const std::int64_t due = due_nearest(strikes[i], t);
        if (due < 0) continue;
        if (std::min(rule_.due(strikes[i], true), rule_.due(strikes[i], false)) > t + kMatchWindowUs) break;
        const std::int64_t gap = std::llabs(t - due);
        if (gap < best_gap) {
            best_gap = gap;
            best = static_cast<long>(i);
            rec.due_us = due;
        }
    }
    if (best < 0) return KeyClass::Extra;
    const auto i = static_cast<std::size_t>(best);
    matched_[i] = 1;
    first_key_[i] = t;
    last_matched_ = best;
    rec.strike = best;
    rec.error_ms = static_cast<double>(t - rec.due_us) / 1000.0;
    rec.from_blow_ms = static_cast<double>(t - strikes[i].time_us) / 1000.0;
    return strikes[i].kind == StrikeKind::Spurious ? KeyClass::Spurious : KeyClass::Strike;
}

// The simulator's bell changes stroke with every key. The first key for
// the blow after a missed one stands for the missed blow, the made-up
// second key for the blow itself.
void SimTarget::check_alternation(KeyRecord& rec, const std::vector<Strike>& strikes) {
    bool check = false;
    bool truth = true;
    if (rec.strike >= 0) {
        const Strike& s = strikes[static_cast<std::size_t>(rec.strike)];
        if (rec.cls == KeyClass::Strike) {
            check = true;
            truth = s.after_missed ? !s.hand : s.hand;
        } else if (rec.cls == KeyClass::Doubled) {
            check = true;
            truth = s.hand;
        }
    }
    if (check && truth != hand_next_) {
        rec.alternation_error = true;
        ++alternation_errors_;
    }
    hand_next_ = !hand_next_;
}

void SimTarget::key(std::int64_t time_us, char ch, std::string_view window) {
    {
        std::lock_guard<std::mutex> g(time_.mutex());
        const std::vector<Strike>& strikes = bell_.strikes_until(time_us);
        matched_.resize(strikes.size(), 0);
        first_key_.resize(strikes.size(), 0);
        doubled_.resize(strikes.size(), 0);
        while (scan_from_ < strikes.size() &&
               (matched_[scan_from_] || strikes[scan_from_].time_us + kLostAfterUs < time_us - kMatchWindowUs))
            ++scan_from_;
        KeyRecord rec;
        rec.time_us = time_us;
        rec.ch = ch;
        rec.window = std::string(window);
        const bool ringers = !rule_.ringer_key || rule_.ringer_key(ch);
        rec.cls = ringers ? classify(time_us, rec, strikes) : KeyClass::Automatic;
        if (rec.cls == KeyClass::Extra || rec.cls == KeyClass::Automatic)
            bell_.heard(time_us, ch);  // the ringer hears the other bells
        if (ringers) check_alternation(rec, strikes);
        keys_.push_back(std::move(rec));
    }
    if (on_key_) on_key_();
}

TargetFigures SimTarget::figures() {
    std::lock_guard<std::mutex> g(time_.mutex());
    TargetFigures f;
    const std::int64_t now = time_.now_us();
    std::vector<double> errors, from_blow;
    for (const KeyRecord& k : keys_) {
        if (k.cls == KeyClass::Automatic) {
            ++f.automatic_keys;
            continue;
        }
        ++f.keys;
        switch (k.cls) {
        case KeyClass::Strike: ++f.strike_keys; break;
        case KeyClass::Spurious: ++f.spurious_keys; break;
        case KeyClass::Doubled: ++f.doubled_keys; break;
        case KeyClass::Extra: ++f.extra_keys; break;
        case KeyClass::Automatic: break;
        }
        if (k.cls == KeyClass::Strike || k.cls == KeyClass::Spurious) {
            errors.push_back(k.error_ms);
            if (std::fabs(k.error_ms) > std::fabs(f.worst_ms)) f.worst_ms = k.error_ms;
            if (k.cls == KeyClass::Strike) from_blow.push_back(k.from_blow_ms);
        }
    }
    const std::vector<Strike>& strikes = bell_.strikes_until(now);
    for (std::size_t i = 0; i < strikes.size(); ++i) {
        const Strike& s = strikes[i];
        if (s.row <= 0 || s.time_us > now) continue;
        if (s.kind != StrikeKind::Spurious) ++f.blows;
        if (!keyed(s) || (i < matched_.size() && matched_[i])) continue;
        const std::int64_t due = std::max(rule_.due(s, true), rule_.due(s, false));
        if (due >= 0 && due + kLostAfterUs < now) ++f.strikes_without_key;
    }
    const platform::sim::BellCounts& c = bell_.counts();
    f.missed = c.missed;
    f.spurious = c.spurious;
    f.bounces = c.bounces;
    f.transients = c.transients;
    f.alternation_errors = alternation_errors_;
    f.median_ms = percentile(errors, 0.5);
    f.p99_ms = percentile(errors, 0.99);
    f.blow_median_ms = percentile(from_blow, 0.5);
    return f;
}

std::vector<KeyRecord> SimTarget::keys() {
    std::lock_guard<std::mutex> g(time_.mutex());
    return keys_;
}

std::string SimTarget::status_line() {
    const TargetFigures f = figures();
    return "Target " + std::to_string(f.keys) + " keys " + std::to_string(f.strikes_without_key) + " lost " +
           std::to_string(f.extra_keys) + " extra | H/B errors " + std::to_string(f.alternation_errors) +
           " | error ms: median " + ms(f.median_ms) + " worst " + ms(f.worst_ms);
}

std::string SimTarget::report() {
    const TargetFigures f = figures();
    auto n = [](long v) { return std::to_string(v); };
    std::string r;
    r += "Bell: " + n(f.blows) + " blows in service (" + n(f.missed) + " missed on purpose), " + n(f.spurious) +
         " spurious strikes,\n      " + n(f.bounces) + " bounces, " + n(f.transients) + " transients\n";
    r += "Target: " + n(f.keys) + " keys: " + n(f.strike_keys) + " for blows, " + n(f.spurious_keys) +
         " for spurious strikes,\n        " + n(f.doubled_keys) + " made up for missed blows, " + n(f.extra_keys) +
         " unexplained; " + n(f.strikes_without_key) + " blows without a key\n";
    if (f.automatic_keys > 0) r += "        besides " + n(f.automatic_keys) + " keys of the automatic bells and calls\n";
    r += "Handstroke/backstroke alternation errors: " + n(f.alternation_errors) + "\n";
    r += "Key sent less due time: median " + ms(f.median_ms) + " ms, p99 " + ms(f.p99_ms) + " ms, worst " +
         ms(f.worst_ms) + " ms\n";
    r += "Key sent less the blow: median " + ms(f.blow_median_ms) + " ms\n";
    return r;
}

}  // namespace qn::sim
