#include "link/protocol.h"

namespace qn::link {

namespace {

// Deeper JSON than any tower event has is refused before it is parsed: the
// parser would take it, but nothing here needs it.
constexpr int kMaxDepth = 32;

bool too_deep(std::string_view text) {
    int depth = 0;
    bool in_string = false, escaped = false;
    for (char ch : text) {
        if (in_string) {
            if (escaped) escaped = false;
            else if (ch == '\\') escaped = true;
            else if (ch == '"') in_string = false;
            continue;
        }
        if (ch == '"') in_string = true;
        else if (ch == '[' || ch == '{') {
            if (++depth > kMaxDepth) return true;
        } else if (ch == ']' || ch == '}') {
            --depth;
        }
    }
    return false;
}

// Json::parse without exceptions: discarded on any error.
Json parse_json(std::string_view text) {
    if (too_deep(text)) return Json(Json::value_t::discarded);
    return Json::parse(text.begin(), text.end(), nullptr, false);
}

Frame malformed(std::string why) {
    Frame f;
    f.kind = FrameKind::Malformed;
    f.text = std::move(why);
    return f;
}

Frame of_kind(FrameKind k) {
    Frame f;
    f.kind = k;
    return f;
}

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// A whole number of milliseconds from an open packet, within reason. (The
// Engine.IO server of Debian 12 announces an interval under a second as 0.)
bool ping_time(const Json& open, const char* key, std::int64_t& out) {
    auto it = open.find(key);
    if (it == open.end() || !it->is_number_integer()) return false;
    const std::int64_t v = it->get<std::int64_t>();
    if (v < 0 || v > 3600 * 1000) return false;
    out = v;
    return true;
}

Frame parse_open(std::string_view payload) {
    const Json j = parse_json(payload);
    if (j.is_discarded() || !j.is_object()) return malformed("open packet is not a JSON object");
    auto sid = j.find("sid");
    if (sid == j.end() || !sid->is_string()) return malformed("open packet has no session id");
    Frame f = of_kind(FrameKind::Open);
    f.open.sid = sid->get<std::string>();
    if (!ping_time(j, "pingInterval", f.open.ping_interval_ms) || !ping_time(j, "pingTimeout", f.open.ping_timeout_ms))
        return malformed("open packet has no usable ping timing");
    return f;
}

// A Socket.IO packet: type digit, then for binary types "N-", then an
// optional namespace "/name,", an optional ack id, and the JSON payload.
Frame parse_socketio(std::string_view p) {
    if (p.empty()) return malformed("empty Socket.IO packet");
    const char type = p[0];
    if (type < '0' || type > '6') return malformed("unknown Socket.IO packet type");
    if (type == '5' || type == '6') {
        Frame f = of_kind(FrameKind::Ignored);
        f.text = "binary packet";
        return f;
    }
    std::size_t i = 1;
    if (i < p.size() && p[i] == '/') {
        const std::size_t comma = p.find(',', i);
        const std::string_view ns = p.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i);
        if (ns != "/") {
            Frame f = of_kind(FrameKind::Ignored);
            f.text = "another namespace";
            return f;
        }
        i = comma == std::string_view::npos ? p.size() : comma + 1;
    }
    while (i < p.size() && is_digit(p[i])) ++i;  // an ack id: not asked for here
    const std::string_view payload = p.substr(i);
    switch (type) {
    case '0': {
        Frame f = of_kind(FrameKind::Connected);
        if (!payload.empty()) {
            const Json j = parse_json(payload);
            if (j.is_discarded() || !j.is_object()) return malformed("connect packet payload is not a JSON object");
            auto sid = j.find("sid");
            if (sid != j.end() && sid->is_string()) f.text = sid->get<std::string>();
        }
        return f;
    }
    case '1': return of_kind(FrameKind::Disconnect);
    case '3': {
        Frame f = of_kind(FrameKind::Ignored);
        f.text = "acknowledgement";
        return f;
    }
    case '4': {
        Frame f = of_kind(FrameKind::ConnectError);
        const Json j = parse_json(payload);
        if (!j.is_discarded() && j.is_object() && j.contains("message") && j["message"].is_string())
            f.text = j["message"].get<std::string>();
        else if (!j.is_discarded() && j.is_string())
            f.text = j.get<std::string>();
        else
            f.text = "no reason given";
        return f;
    }
    default: break;
    }
    // '2': an event.
    const Json j = parse_json(payload);
    if (j.is_discarded()) return malformed("event payload is not JSON");
    if (!j.is_array() || j.empty() || !j[0].is_string()) return malformed("event payload is not [name, ...]");
    Frame f = of_kind(FrameKind::Event);
    f.name = j[0].get<std::string>();
    if (j.size() > 1) f.data = j[1];
    return f;
}

std::string dump(const Json& j) {
    // Replace, not throw, should a string ever hold bytes that are not UTF-8.
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool bell_states(const Json& data, std::vector<bool>& out, std::string& why) {
    auto it = data.find("global_bell_state");
    if (it == data.end() || !it->is_array()) {
        why = "no global_bell_state list";
        return false;
    }
    if (it->size() > static_cast<std::size_t>(kMaxTowerBells)) {
        why = "global_bell_state has more than 16 bells";
        return false;
    }
    out.clear();
    for (const Json& b : *it) {
        if (!b.is_boolean()) {
            why = "global_bell_state holds something not true or false";
            return false;
        }
        out.push_back(b.get<bool>());
    }
    return true;
}

TowerEvent invalid(std::string why) {
    TowerEvent e;
    e.kind = EventKind::Invalid;
    e.why = std::move(why);
    return e;
}

}  // namespace

Frame parse_frame(std::string_view m) {
    if (m.empty()) return malformed("empty message");
    const std::string_view rest = m.substr(1);
    switch (m[0]) {
    case '0': return parse_open(rest);
    case '1': return of_kind(FrameKind::Close);
    case '2': {
        Frame f = of_kind(FrameKind::Ping);
        f.text = std::string(rest);
        return f;
    }
    case '3': return of_kind(FrameKind::Pong);
    case '4': return parse_socketio(rest);
    case '5':
    case '6': return of_kind(FrameKind::Noop);
    default: return malformed("unknown Engine.IO packet type");
    }
}

std::string event_frame(std::string_view name, const Json& data) {
    return "42" + dump(Json::array({std::string(name), data}));
}

std::string join_frame(std::int64_t tower_id, const std::string& token) {
    return event_frame("c_join", {{"tower_id", tower_id}, {"user_token", token}, {"anonymous_user", token.empty()}});
}

std::string request_state_frame(std::int64_t tower_id) {
    return event_frame("c_request_global_state", {{"tower_id", tower_id}});
}

std::string bell_frame(std::int64_t tower_id, int bell, bool handstroke) {
    return event_frame("c_bell_rung", {{"bell", bell}, {"stroke", handstroke}, {"tower_id", tower_id}});
}

std::string call_frame(std::int64_t tower_id, std::string_view call) {
    return event_frame("c_call", {{"call", std::string(call)}, {"tower_id", tower_id}});
}

std::string user_left_frame(std::int64_t tower_id, const std::string& token) {
    return event_frame("c_user_left",
                       {{"user_token", token}, {"anonymous_user", token.empty()}, {"tower_id", tower_id}});
}

std::string assign_frame(std::int64_t tower_id, int bell, std::int64_t user_id) {
    return event_frame("c_assign_user", {{"bell", bell}, {"user", user_id}, {"tower_id", tower_id}});
}

namespace {

// A user id as the server sends it: a number, or "" / 0 for nobody.
bool user_id_of(const Json& v, std::int64_t& out) {
    if (v.is_number_integer()) {
        out = v.get<std::int64_t>();
        return true;
    }
    if (v.is_string() && v.get<std::string>().empty()) {
        out = 0;
        return true;
    }
    return false;
}

TowerEvent people_event(const Frame& f) {
    TowerEvent e;
    if (!f.data.is_object()) return invalid(f.name + " without an object");
    if (f.name == "s_host_mode") {
        auto it = f.data.find("new_mode");
        if (it == f.data.end() || !it->is_boolean()) return invalid("s_host_mode without new_mode");
        e.kind = EventKind::HostMode;
        e.host_mode = it->get<bool>();
        return e;
    }
    if (f.name == "s_assign_user") {
        auto bell = f.data.find("bell");
        auto user = f.data.find("user");
        if (bell == f.data.end() || !bell->is_number_integer() || bell->get<std::int64_t>() < 1 ||
            bell->get<std::int64_t>() > kMaxTowerBells)
            return invalid("s_assign_user without a bell in 1..16");
        if (user == f.data.end() || !user_id_of(*user, e.user_id)) return invalid("s_assign_user without a user");
        e.kind = EventKind::Assigned;
        e.bell = static_cast<int>(bell->get<std::int64_t>());
        return e;
    }
    e.kind = EventKind::UserEntered;
    auto one = [&e](const Json& u) {
        if (!u.is_object()) return false;
        auto id = u.find("user_id");
        auto name = u.find("username");
        if (id == u.end() || !id->is_number_integer() || name == u.end() || !name->is_string()) return false;
        e.users.emplace_back(id->get<std::int64_t>(), name->get<std::string>());
        return true;
    };
    if (f.name == "s_user_entered") {
        if (!one(f.data)) return invalid("s_user_entered without user_id and username");
    } else {
        auto list = f.data.find("user_list");
        if (list == f.data.end()) return invalid("s_set_userlist without user_list");
        // An empty mapping, as some servers send for an empty tower: nobody.
        if (!list->is_array()) {
            e.kind = EventKind::Other;
            return e;
        }
        for (const Json& u : *list)
                if (!one(u)) return invalid("s_set_userlist with a user without user_id and username");
    }
    return e;
}

}  // namespace

TowerEvent interpret_event(const Frame& f) {
    TowerEvent e;
    if (f.kind != FrameKind::Event) return e;
    if (f.name == "s_host_mode" || f.name == "s_assign_user" || f.name == "s_user_entered" ||
        f.name == "s_set_userlist")
        return people_event(f);
    if (f.name == "s_bad_token") {
        e.kind = EventKind::BadToken;
        return e;
    }
    const bool state = f.name == "s_global_state", rung = f.name == "s_bell_rung", call = f.name == "s_call";
    if (!state && !rung && !call) return e;
    if (!f.data.is_object()) return invalid(f.name + " without an object");
    if (call) {
        auto it = f.data.find("call");
        if (it == f.data.end() || !it->is_string()) return invalid("s_call without a call");
        e.kind = EventKind::Call;
        e.call = it->get<std::string>();
        return e;
    }
    if (!bell_states(f.data, e.bell_state, e.why)) return invalid(f.name + ": " + e.why);
    if (state) {
        e.kind = EventKind::GlobalState;
        return e;
    }
    auto who = f.data.find("who_rang");
    if (who == f.data.end() || !who->is_number_integer()) return invalid("s_bell_rung without who_rang");
    const std::int64_t b = who->get<std::int64_t>();
    if (b < 1 || b > kMaxTowerBells) return invalid("s_bell_rung for a bell outside 1..16");
    e.kind = EventKind::BellRung;
    e.who_rang = static_cast<int>(b);
    auto dis = f.data.find("disagree");
    e.disagree = dis != f.data.end() && dis->is_boolean() && dis->get<bool>();
    return e;
}

const char* call_for_key(char key) {
    switch (key) {
    case 'b':
    case 'B': return "Bob";
    case 'n':
    case 'N': return "Single";
    case 'g': return "Go";
    case 'h': return "That's all";
    case 't': return "Stand next";
    case 'l': return "Look to";
    default: return nullptr;
    }
}

}  // namespace qn::link
