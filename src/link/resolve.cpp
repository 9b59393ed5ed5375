#include "link/resolve.h"

#include <algorithm>

#include "link/protocol.h"

namespace qn::link {

namespace {

bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// scheme ("http" or "https") and authority of an http(s) URL; false when it
// is none, or the authority holds anything a host and port do not.
bool split_http(const std::string& url, std::string& scheme, std::string& authority) {
    std::size_t start = 0;
    if (starts_with(url, "https://")) {
        scheme = "https";
        start = 8;
    } else if (starts_with(url, "http://")) {
        scheme = "http";
        start = 7;
    } else {
        return false;
    }
    const std::size_t end = url.find_first_of("/?#", start);
    authority = url.substr(start, end == std::string::npos ? std::string::npos : end - start);
    if (authority.empty()) return false;
    for (char ch : authority) {
        const bool ok = (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
                        ch == '.' || ch == '-' || ch == ':' || ch == '[' || ch == ']' || ch == '_';
        if (!ok) return false;
    }
    return true;
}

Outcome failed(std::string error, bool permanent = false) {
    Outcome o;
    o.error = std::move(error);
    o.permanent = permanent;
    return o;
}

Outcome succeeded(std::string value) {
    Outcome o;
    o.ok = true;
    o.value = std::move(value);
    return o;
}

std::string host_of(const std::string& site) {
    std::string scheme, authority;
    return split_http(site, scheme, authority) ? authority : site;
}

// What an unexpected HTTP status says to a ringer.
std::string status_text(const std::string& what, int status) {
    return what + " answered HTTP " + std::to_string(status);
}

void wipe(std::string& s) {
    std::fill(s.begin(), s.end(), '\0');
    s.clear();
}

}  // namespace

std::string base64(const std::string& bytes) {
    static const char* k = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += k[v >> 18 & 63];
        out += k[v >> 12 & 63];
        out += k[v >> 6 & 63];
        out += k[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size()) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += k[v >> 18 & 63];
        out += k[v >> 12 & 63];
        out += i + 1 < bytes.size() ? k[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string normal_site(const std::string& site) {
    std::string scheme, authority;
    if (!split_http(site, scheme, authority)) return {};
    return scheme + "://" + authority;
}

std::string socket_url_for(const std::string& server) {
    std::string scheme, authority;
    if (!split_http(server, scheme, authority)) return {};
    return (scheme == "https" ? "wss://" : "ws://") + authority + "/socket.io/?EIO=4&transport=websocket";
}

std::string server_on_page(const std::string& html) {
    static const std::string key = "server_ip";
    for (std::size_t at = html.find(key); at != std::string::npos; at = html.find(key, at + 1)) {
        std::size_t i = at + key.size();
        while (i < html.size() && html[i] == ' ') ++i;
        if (i >= html.size() || html[i] != ':') continue;
        ++i;
        while (i < html.size() && html[i] == ' ') ++i;
        if (i >= html.size() || html[i] != '"') continue;
        const std::size_t end = html.find('"', i + 1);
        if (end == std::string::npos || end - i - 1 > 2000) return {};
        return html.substr(i + 1, end - i - 1);
    }
    return {};
}

Outcome log_in(platform::Network& net, const std::string& site, const std::string& email,
               const std::string& password, std::int32_t timeout_ms) {
    std::string credentials = email + ":" + password;
    std::vector<platform::HttpHeader> headers{{"Authorization", "Basic " + base64(credentials)}};
    wipe(credentials);
    auto r = net.http_request("POST", site + "/api/tokens", headers, "", timeout_ms);
    wipe(headers[0].value);
    if (!r.ok()) return failed("cannot reach " + host_of(site) + ": " + r.error());
    const platform::HttpResponse& res = r.value();
    if (res.status == 401 || res.status == 403)
        return failed("log-in refused for " + email + ": wrong e-mail or password", true);
    if (res.status != 200) return failed(status_text("log-in at " + host_of(site), res.status));
    const Json j = Json::parse(res.body, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("token") || !j["token"].is_string() ||
        j["token"].get<std::string>().empty())
        return failed("log-in at " + host_of(site) + " gave no token");
    return succeeded(j["token"].get<std::string>());
}

Outcome account_name(platform::Network& net, const std::string& site, const std::string& token,
                     std::int32_t timeout_ms) {
    auto r = net.http_request("GET", site + "/api/user", {{"Authorization", "Bearer " + token}}, "", timeout_ms);
    if (!r.ok()) return failed("cannot reach " + host_of(site) + ": " + r.error());
    if (r.value().status != 200) return failed(status_text("the account at " + host_of(site), r.value().status));
    const Json j = Json::parse(r.value().body, nullptr, false);
    if (j.is_discarded() || !j.is_object() || !j.contains("username") || !j["username"].is_string())
        return failed("the account at " + host_of(site) + " gave no user name");
    return succeeded(j["username"].get<std::string>());
}

Outcome socket_url(platform::Network& net, const std::string& site, std::int64_t tower_id, const std::string& token,
                   std::int32_t timeout_ms) {
    const std::string id = std::to_string(tower_id);
    const std::string host = host_of(site);
    std::string server;
    bool by_page = token.empty();
    if (!by_page) {
        auto r = net.http_request("GET", site + "/api/tower/" + id, {{"Authorization", "Bearer " + token}}, "",
                                  timeout_ms);
        if (!r.ok()) return failed("cannot reach " + host + ": " + r.error());
        const int status = r.value().status;
        if (status == 404) return failed("tower " + id + " does not exist on " + host, true);
        // A token past its day: the page serves anyone, and the join says
        // what became of the log-in.
        by_page = status == 401 || status == 403;
        if (!by_page && status != 200) return failed(status_text(host, status));
        const Json j = by_page ? Json() : Json::parse(r.value().body, nullptr, false);
        if (!j.is_discarded() && j.is_object() && j.contains("server_address") && j["server_address"].is_string())
            server = j["server_address"].get<std::string>();
    }
    if (by_page) {
        auto r = net.http_request("GET", site + "/" + id, {}, "", timeout_ms);
        if (!r.ok()) return failed("cannot reach " + host + ": " + r.error());
        if (r.value().status == 404) return failed("tower " + id + " does not exist on " + host, true);
        if (r.value().status != 200) return failed(status_text(host, r.value().status));
        server = server_on_page(r.value().body);
    }
    const std::string url = socket_url_for(server);
    if (url.empty()) return failed(host + " named no usable server for tower " + id);
    return succeeded(url);
}

}  // namespace qn::link
