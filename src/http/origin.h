// Which browser pages may use the bridge, under which host name, and the CORS headers every
// routed reply carries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/message.h"

namespace korba {

// Origin and Host texts arrive lower-cased and trimmed by the request reader.
bool origin_allowed(std::string_view origin);
// The bridge's own names only: a page under any other name that resolves to 127.0.0.1 (DNS
// rebinding) is same-origin with the bridge and sends no Origin.
bool host_allowed(std::string_view host);
// The five CORS headers as lines of a reply head, each ended by CR LF. Access-Control-Allow-Origin
// echoes the origin, "*" without one, "null" when it holds a control character (a lone CR or LF
// can sit inside a header value).
std::string cors_header_lines(const std::optional<std::string>& origin);

}  // namespace korba
