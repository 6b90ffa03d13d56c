#include "http/origin.h"

#include "common/constants.h"

namespace korba {

namespace {

bool ends_with(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

bool has_control_character(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

// The prefix alone or the prefix with ":" and a port. Anything longer
// (http://localhost.attacker.example) is another host and is refused.
bool with_optional_port(std::string_view text, std::string_view prefix) {
    if (text.substr(0, prefix.size()) != prefix) return false;
    const std::string_view rest = text.substr(prefix.size());
    if (rest.empty()) return true;
    if (rest[0] != ':' || rest.size() == 1) return false;
    for (const char c : rest.substr(1))
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

bool origin_allowed(std::string_view origin) {
    if (has_control_character(origin)) return false;
    const std::string app_domain = APP_DOMAIN;
    const std::string hosting = std::string(".") + HOSTING_PROJECT + "." + HOSTING_DOMAIN;
    return origin == "https://" + app_domain || ends_with(origin, "." + app_domain) || ends_with(origin, hosting) ||
           with_optional_port(origin, "http://127.0.0.1") || with_optional_port(origin, "http://localhost") ||
           with_optional_port(origin, "https://127.0.0.1") || with_optional_port(origin, "https://localhost");
}

bool host_allowed(std::string_view host) {
    return with_optional_port(host, "127.0.0.1") || with_optional_port(host, "localhost");
}

std::string cors_header_lines(const std::optional<std::string>& origin) {
    constexpr std::string_view ALLOW_ORIGIN = "Access-Control-Allow-Origin: ";
    constexpr std::string_view REST =
        "\r\nAccess-Control-Allow-Methods: GET,POST,OPTIONS\r\nAccess-Control-Allow-Headers: Content-Type\r\n"
        "Access-Control-Allow-Private-Network: true\r\nVary: Origin\r\n";
    const std::string_view allowed =
        !origin ? std::string_view("*") : has_control_character(*origin) ? std::string_view("null") : *origin;
    std::string lines;
    lines.reserve(ALLOW_ORIGIN.size() + allowed.size() + REST.size());
    return lines.append(ALLOW_ORIGIN).append(allowed).append(REST);
}

}  // namespace korba
