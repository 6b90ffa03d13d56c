// origin_allowed and host_allowed against the same rules written as regular expressions, and the CORS set.
#include <algorithm>
#include <regex>
#include <string>

#include "common/constants.h"
#include "fuzz_input.h"
#include "http/origin.h"

namespace {

using korba::fuzz::expect;

std::string escaped(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (!std::isalnum(static_cast<unsigned char>(c))) out += '\\';
        out += c;
    }
    return out;
}

const std::regex& admitted() {
    const std::string domain = escaped(korba::APP_DOMAIN);
    const std::string hosting = escaped(std::string(korba::HOSTING_PROJECT) + "." + korba::HOSTING_DOMAIN);
    static const std::regex rules("https://" + domain + "|[\\s\\S]*\\." + domain + "|[\\s\\S]*\\." + hosting +
                                  "|https?://(127\\.0\\.0\\.1|localhost)(:[0-9]+)?");
    return rules;
}

const std::regex& loopback_host() {
    static const std::regex rule("(127\\.0\\.0\\.1|localhost)(:[0-9]+)?");
    return rule;
}

bool has_control_character(const std::string& text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    // The regex engine recurses per character; real origins are short.
    if (size > 256) return 0;
    const std::string origin(korba::fuzz::as_text(data, size));
    const bool control = has_control_character(origin);
    expect(korba::origin_allowed(origin) == (!control && std::regex_match(origin, admitted())), "origin rule differs");
    expect(korba::host_allowed(origin) == std::regex_match(origin, loopback_host()), "host rule differs");

    const std::string lines = korba::cors_header_lines(origin);
    const std::string first = "Access-Control-Allow-Origin: " + (control ? std::string("null") : origin) + "\r\n";
    expect(lines.starts_with(first) && std::count(lines.begin(), lines.end(), '\n') == 5,
           "the CORS set does not echo the origin, or echoes a control character");
    return 0;
}
