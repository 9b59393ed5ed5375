#include "strokes/band.h"

namespace qn {

void BellReport::spacing_judged(const SpacingJudged& r) {
    SpacingJudged stamped = r;
    stamped.bell = bell_;
    band_.spacing_judged(stamped);
}

void BellReport::blow_timed(const BlowTimed& r) {
    BlowTimed stamped = r;
    stamped.bell = bell_;
    band_.blow_timed(stamped);
}

void BellReport::touch_ended(const TouchEnded& r) {
    TouchEnded stamped = r;
    stamped.bell = bell_;
    band_.touch_ended(stamped);
}

char band_bell_key(int bell) {
    if (bell == 11) return '-';
    if (bell == 12) return '=';
    return standard_band_char(bell);
}

std::vector<int> band_bells(const Settings& settings) {
    std::vector<int> bells;
    if (!settings.band.on || !settings.rest_on_mode) return bells;
    for (int n = 1; n <= kMaxBandBells; ++n)
        if (settings.band.bell(n).rung) bells.push_back(n);
    return bells;
}

namespace {

// The program's target, cut to one sensing point on the box's only
// "sensor": the bell's key at both strokes, its own delays.
CurrentTarget bell_target(const CurrentTarget& target, const BandBellSetting& s, int bell) {
    CurrentTarget t = target;
    t.set_sensors_active(1);
    const char key = band_bell_key(bell);
    t.point(0) = SensingPoint{1, key, s.hand_delay_ms, key, s.back_delay_ms};
    return t;
}

}  // namespace

BandBell::BandBell(int bell, const Settings& settings, const CurrentTarget& program_target, const RunClock& clock,
                   StrikeReport& band_report)
    : number(bell),
      target(bell_target(program_target, settings.band.bell(bell), bell)),
      report(bell, band_report),
      path(settings, target, clock, report) {
    path.watch().watch_char(settings.band.bell(bell).box_char);
    // Each path counts its own signals from the box's single "sensor".
    path.keys().set_handstroke(true);
}

void Band::set_up(const CurrentTarget& target) {
    bells_.clear();
    blows_ = 0;
    if (!settings_.band.on || !settings_.rest_on_mode) return;
    for (int n = 1; n <= kMaxBandBells; ++n)
        if (settings_.band.bell(n).rung)
            bells_.push_back(std::make_unique<BandBell>(n, settings_, target, clock_, report_));
}

std::optional<std::size_t> Band::index_of(int number) const {
    for (std::size_t i = 0; i < bells_.size(); ++i)
        if (bells_[i]->number == number) return i;
    return std::nullopt;
}

std::optional<std::size_t> Band::take_char(char ch, std::int64_t at_us) {
    const std::optional<std::size_t> i = index_of(settings_.band.bell_of(ch));
    if (!i) return std::nullopt;
    WatchLoop& watch = bells_[*i]->path.watch();
    const bool taken = watch.take_chars(&ch, 1, at_us);
    watch.end_event();
    return taken ? i : std::nullopt;
}

// The band's rows run one per band-size blows, a row counted at its first
// blow, so the touch starts with the band's first blow. With doubled send
// on, a spurious strike is no blow and a missed one, made up, is two.
void Band::count_blow(std::size_t i) {
    const bool corrected = bells_[i]->target.use_doubled_send();
    const Spacing spacing = bells_[i]->path.last_spacing();
    if (corrected && spacing == Spacing::Spurious) return;
    const int blows = corrected && spacing == Spacing::Missed ? 2 : 1;
    const auto n = static_cast<std::int64_t>(bells_.size());
    for (int b = 0; b < blows; ++b)
        if (blows_++ % n == 0) rows_.count(Spacing::Normal, false);
}

std::int64_t Band::last_signal_us() const {
    std::int64_t last = 0;
    for (const auto& b : bells_) last = std::max(last, b->path.last_signal_us());
    return last;
}

bool Band::outputs_full() const {
    for (const auto& b : bells_)
        if (b->path.keys().outputs_full()) return true;
    return false;
}

bool Band::any_pending() const {
    for (const auto& b : bells_)
        if (b->path.keys().any_pending(1)) return true;
    return false;
}

void Band::log_touch(TouchEnd why) {
    for (auto& b : bells_)
        if (b->path.keys().output_count() > 0) b->path.log_touch(why);
}

void Band::restart_touch(std::int64_t now_us) {
    blows_ = 0;
    for (auto& b : bells_) b->path.restart_touch(now_us);
}

}  // namespace qn
