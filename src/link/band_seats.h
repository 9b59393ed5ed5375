// A band's bells in an online tower: which of them this user takes (the
// tower's c_assign_user, as a browser assigns a ringer), and which the tower
// refuses. In host mode a ringer who is not a host may ring only the bells a
// host gave them and may assign nobody; a bell beyond the tower's size
// cannot be rung at all. The server itself checks neither: its browsers do,
// and so does this.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link/protocol.h"

namespace qn::link {

class BandSeats {
public:
    // bells: 1-based, as the band rings them; empty: no band.
    explicit BandSeats(std::vector<int> bells);

    bool empty() const { return bells_.empty(); }
    const std::vector<int>& bells() const { return bells_; }

    // The account's user name (empty: anonymous): the tower's user list
    // gives its id.
    void set_username(std::string name);
    // A new connection: assignments, host mode and our id are told again.
    void new_connection();
    // The tower's state has come: its size.
    void joined(int tower_bells);
    // Host mode, assignments and users; the rest is ignored.
    void event(const TowerEvent& e);

    // The bells to ask the tower for now, each asked once a connection:
    // free bells of the band, once our id is known and host mode is off.
    std::vector<int> to_assign();
    std::int64_t user_id() const;

    // Whether the tower refuses the bell now (any thread).
    bool refused(int bell) const;
    // "host mode: bells 3 5 not ours; bell 9 beyond the tower's 8".
    std::string refused_text() const;
    // Log lines since the last call: each change of what is refused, and
    // bells another ringer holds.
    std::vector<std::string> take_notes();

private:
    void review();  // with mu_ held

    std::vector<int> bells_;
    mutable std::mutex mu_;
    std::string username_;
    std::int64_t user_id_ = 0;  // 0: not known
    int tower_bells_ = 0;       // 0: not joined
    bool host_mode_ = false;
    std::array<std::int64_t, kMaxTowerBells> assigned_{};  // user id per bell, 0: nobody
    std::array<bool, kMaxTowerBells> asked_{};
    std::array<bool, kMaxTowerBells> refused_{};
    std::array<std::int64_t, kMaxTowerBells> told_holder_{};  // the other holder last said
    std::string refused_text_;
    std::vector<std::string> notes_;
};

}  // namespace qn::link
