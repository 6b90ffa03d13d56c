// Which browser pages may use the bridge, and the CORS headers every routed reply carries.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "http/message.h"

namespace korba {

// The origin text arrives lower-cased and trimmed by the request reader.
bool origin_allowed(std::string_view origin);
Headers cors_headers(const std::optional<std::string>& origin);

}  // namespace korba
