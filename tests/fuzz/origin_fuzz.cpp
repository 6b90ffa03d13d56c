// origin_allowed against the same rules written as one regular expression, and the CORS set.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    // The regex engine recurses per character; real origins are short.
    if (size > 256) return 0;
    const std::string origin(korba::fuzz::as_text(data, size));
    expect(korba::origin_allowed(origin) == std::regex_match(origin, admitted()), "origin rule differs");

    const korba::Headers headers = korba::cors_headers(origin);
    expect(headers.size() == 5 && headers[0].first == "Access-Control-Allow-Origin" && headers[0].second == origin,
           "the CORS set does not echo the origin");
    return 0;
}
