// What an online tower server speaks over a WebSocket: Engine.IO 4 packets,
// one per message, carrying Socket.IO 5 packets on the default namespace,
// whose events are the tower's ("c_bell_rung", "s_bell_rung", ...).
//
// Parsing takes any bytes and never throws: what this client does not
// understand comes back as Malformed with the reason, and a tower event whose
// fields have the wrong types comes back as Invalid.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace qn::link {

using Json = nlohmann::json;

// Bells a tower can have.
inline constexpr int kMaxTowerBells = 16;

// ---- frames ----------------------------------------------------------------

struct OpenInfo {
    std::string sid;
    std::int64_t ping_interval_ms = 0;
    std::int64_t ping_timeout_ms = 0;
};

enum class FrameKind {
    Open,          // Engine.IO "0{...}": the session's ping timing
    Close,         // Engine.IO "1"
    Ping,          // Engine.IO "2", answered with "3" (text: its payload)
    Pong,          // Engine.IO "3"
    Noop,          // Engine.IO "5" and "6"
    Connected,     // Socket.IO "40{...}"
    ConnectError,  // Socket.IO "44{...}" (text: the server's message)
    Disconnect,    // Socket.IO "41": the server ends the namespace
    Event,         // Socket.IO "42[name, data]"
    Ignored,       // understood, of no use here (acks, other namespaces, binary)
    Malformed,     // text: what is wrong
};

struct Frame {
    FrameKind kind = FrameKind::Malformed;
    OpenInfo open;
    std::string name;  // Event
    Json data;         // Event: the first argument (null when none)
    std::string text;
};

Frame parse_frame(std::string_view message);

// ---- frames this client sends ----------------------------------------------

inline constexpr const char* kConnectFrame = "40";
inline constexpr const char* kDisconnectFrame = "41";
inline constexpr const char* kPongFrame = "3";

// "42[name, data]".
std::string event_frame(std::string_view name, const Json& data);

// The tower's events, tower_id always a JSON integer: as a string the server
// puts the client in a room of its own, apart from the browsers.
std::string join_frame(std::int64_t tower_id, const std::string& token);
std::string request_state_frame(std::int64_t tower_id);
std::string bell_frame(std::int64_t tower_id, int bell, bool handstroke);
std::string call_frame(std::int64_t tower_id, std::string_view call);
std::string user_left_frame(std::int64_t tower_id, const std::string& token);
// Puts a user (by the server's user id) on a bell, as a browser's assignment
// does; the server tells everyone in the tower with s_assign_user.
std::string assign_frame(std::int64_t tower_id, int bell, std::int64_t user_id);

// ---- tower events ----------------------------------------------------------

enum class EventKind {
    GlobalState,  // s_global_state: the stroke of every bell
    BellRung,     // s_bell_rung: a bell rang, anyone's
    Call,         // s_call
    BadToken,     // s_bad_token: the log-in token was refused
    HostMode,     // s_host_mode: on, only a host may assign; a ringer rings only their own bells
    Assigned,     // s_assign_user: who is on a bell (user_id 0: nobody)
    UserEntered,  // s_user_entered or s_set_userlist: users in the tower
    Other,        // an event of no use here
    Invalid,      // a known event with the wrong fields (why: what)
};

struct TowerEvent {
    EventKind kind = EventKind::Other;
    std::vector<bool> bell_state;  // true: at handstroke (GlobalState, BellRung)
    int who_rang = 0;              // BellRung, 1-based
    bool disagree = false;         // BellRung: the stroke sent was not the tower's
    std::string call;              // Call
    bool host_mode = false;        // HostMode
    int bell = 0;                  // Assigned, 1-based
    std::int64_t user_id = 0;      // Assigned
    std::vector<std::pair<std::int64_t, std::string>> users;  // s_set_userlist: id and name
    std::string why;               // Invalid
};

// The tower event an Event frame carries.
TowerEvent interpret_event(const Frame& frame);

// Ringing Room's names of the calls a touch's call keys stand for ("b" Bob,
// "n" Single, "g" Go, "h" That's all, "t" Stand next, "l" Look to); null for
// any other key.
const char* call_for_key(char key);

}  // namespace qn::link
