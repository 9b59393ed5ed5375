#include "link/band_seats.h"

#include <algorithm>

namespace qn::link {

namespace {

std::string bells_text(const std::vector<int>& bells) {
    std::string t = bells.size() == 1 ? "bell" : "bells";
    for (int b : bells) t += " " + std::to_string(b);
    return t;
}

std::size_t at(int bell) {
    return static_cast<std::size_t>(bell - 1);
}

}  // namespace

BandSeats::BandSeats(std::vector<int> bells) {
    for (int b : bells)
        if (b >= 1 && b <= kMaxTowerBells && std::find(bells_.begin(), bells_.end(), b) == bells_.end())
            bells_.push_back(b);
}

void BandSeats::set_username(std::string name) {
    std::lock_guard<std::mutex> g(mu_);
    username_ = std::move(name);
}

void BandSeats::new_connection() {
    std::lock_guard<std::mutex> g(mu_);
    user_id_ = 0;
    tower_bells_ = 0;
    host_mode_ = false;
    assigned_.fill(0);
    asked_.fill(false);
}

void BandSeats::joined(int tower_bells) {
    std::lock_guard<std::mutex> g(mu_);
    tower_bells_ = tower_bells;
    review();
}

void BandSeats::event(const TowerEvent& e) {
    std::lock_guard<std::mutex> g(mu_);
    switch (e.kind) {
        case EventKind::HostMode:
            host_mode_ = e.host_mode;
            break;
        case EventKind::Assigned:
            assigned_[at(e.bell)] = e.user_id;
            // Taken from us (a host's doing, or a resize): not asked for again
            // on this connection.
            break;
        case EventKind::UserEntered:
            for (const auto& [id, name] : e.users)
                if (!username_.empty() && name == username_) user_id_ = id;
            break;
        default:
            return;
    }
    review();
}

std::vector<int> BandSeats::to_assign() {
    std::lock_guard<std::mutex> g(mu_);
    std::vector<int> out;
    if (user_id_ == 0 || tower_bells_ == 0 || host_mode_) return out;
    for (int b : bells_) {
        if (b > tower_bells_ || asked_[at(b)] || assigned_[at(b)] != 0) continue;
        asked_[at(b)] = true;
        out.push_back(b);
    }
    return out;
}

std::int64_t BandSeats::user_id() const {
    std::lock_guard<std::mutex> g(mu_);
    return user_id_;
}

bool BandSeats::refused(int bell) const {
    if (bell < 1 || bell > kMaxTowerBells) return true;
    std::lock_guard<std::mutex> g(mu_);
    return refused_[at(bell)];
}

std::string BandSeats::refused_text() const {
    std::lock_guard<std::mutex> g(mu_);
    return refused_text_;
}

std::vector<std::string> BandSeats::take_notes() {
    std::lock_guard<std::mutex> g(mu_);
    std::vector<std::string> out;
    out.swap(notes_);
    return out;
}

// Until the tower's size is known nothing is refused: rings then are lost
// as any ring before the join.
void BandSeats::review() {
    if (tower_bells_ == 0) return;
    std::vector<int> beyond, not_ours;
    for (int b : bells_) {
        const std::int64_t holder = assigned_[at(b)];
        const bool is_beyond = b > tower_bells_;
        const bool locked = !is_beyond && host_mode_ && (holder == 0 || holder != user_id_);
        refused_[at(b)] = is_beyond || locked;
        if (is_beyond) beyond.push_back(b);
        if (locked) not_ours.push_back(b);
        if (!is_beyond && !host_mode_ && holder != 0 && holder != user_id_ && holder != told_holder_[at(b)])
            notes_.push_back("bell " + std::to_string(b) +
                             " is assigned to another ringer; the band rings it too");
        told_holder_[at(b)] = holder == user_id_ ? 0 : holder;
    }
    std::string text;
    if (!not_ours.empty()) text = "host mode: " + bells_text(not_ours) + " not ours";
    if (!beyond.empty())
        text += (text.empty() ? "" : "; ") + bells_text(beyond) + " beyond the tower's " +
                std::to_string(tower_bells_);
    if (text == refused_text_) return;
    refused_text_ = text;
    notes_.push_back(text.empty() ? std::string("the tower now takes every bell of the band")
                                  : "the tower refuses " + text + ": their rings are not sent");
}

}  // namespace qn::link
