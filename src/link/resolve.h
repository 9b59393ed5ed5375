// Before a tower can be joined: the log-in (an optional token for a
// Ringing Room account) and the address of the server the tower lives on,
// which may not be the web site's own.
#pragma once

#include <cstdint>
#include <string>

#include "platform/network.h"

namespace qn::link {

inline constexpr const char* kDefaultSite = "https://ringingroom.com";

struct Outcome {
    bool ok = false;
    bool permanent = false;  // trying again will not help (no such tower, log-in refused)
    std::string value;       // the token, or the socket URL
    std::string error;
};

// POST site/api/tokens with HTTP Basic authentication: the token of the
// account, valid a day. The password goes no further than the request.
Outcome log_in(platform::Network& net, const std::string& site, const std::string& email,
               const std::string& password, std::int32_t timeout_ms);

// GET site/api/user with a token: the account's user name, by which the
// tower's list of users gives its user id.
Outcome account_name(platform::Network& net, const std::string& site, const std::string& token,
                     std::int32_t timeout_ms);

// The WebSocket URL of the tower's server: from GET site/api/tower/<id>
// ("server_address") with a token, else from the tower's page ("server_ip").
Outcome socket_url(platform::Network& net, const std::string& site, std::int64_t tower_id, const std::string& token,
                   std::int32_t timeout_ms);

// "https://host[:port][/...]" as a Socket.IO client opens it:
// "wss://host[:port]/socket.io/?EIO=4&transport=websocket"; empty when the
// address is not an http(s) URL.
std::string socket_url_for(const std::string& server);

// The tower's page names its server in its JavaScript: server_ip: "...".
std::string server_on_page(const std::string& html);

// A site as the settings hold it: "https://host[:port]", no trailing slash;
// empty when it is not an http(s) URL.
std::string normal_site(const std::string& site);

std::string base64(const std::string& bytes);

}  // namespace qn::link
