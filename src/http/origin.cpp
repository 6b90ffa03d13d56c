#include "http/origin.h"

#include "common/constants.h"

namespace korba {

namespace {

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// A loopback origin is the prefix alone or the prefix with ":" and a port. Anything
// longer (http://localhost.attacker.example) is another host and is refused.
bool loopback_origin(std::string_view origin, std::string_view prefix) {
    if (origin.substr(0, prefix.size()) != prefix) return false;
    const std::string_view rest = origin.substr(prefix.size());
    if (rest.empty()) return true;
    if (rest[0] != ':' || rest.size() == 1) return false;
    for (const char c : rest.substr(1))
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

bool origin_allowed(std::string_view origin) {
    const std::string app_domain = APP_DOMAIN;
    const std::string hosting = std::string(".") + HOSTING_PROJECT + "." + HOSTING_DOMAIN;
    return origin == "https://" + app_domain || ends_with(origin, "." + app_domain) || ends_with(origin, hosting) ||
           loopback_origin(origin, "http://127.0.0.1") || loopback_origin(origin, "http://localhost") ||
           loopback_origin(origin, "https://127.0.0.1") || loopback_origin(origin, "https://localhost");
}

Headers cors_headers(const std::optional<std::string>& origin) {
    return {{"Access-Control-Allow-Origin", origin ? *origin : "*"},
            {"Access-Control-Allow-Methods", "GET,POST,OPTIONS"},
            {"Access-Control-Allow-Headers", "Content-Type"},
            {"Access-Control-Allow-Private-Network", "true"},
            {"Vary", "Origin"}};
}

}  // namespace korba
