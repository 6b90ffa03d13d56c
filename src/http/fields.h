// Request fields by text search (no JSON parser), URL query values and Base64.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korba {

// The value of the first "name" in the text: a string (escapes reduced to their
// next character) or a run of digits and minus signs; absent otherwise.
std::optional<std::string> json_field(std::string_view json, std::string_view name);
// The value of the first name=value piece of the query, byte for byte.
std::optional<std::string> query_param(std::string_view query, std::string_view name);
// Standard alphabet; CR, LF, space and "=" skipped anywhere; anything else is invalid.
std::optional<std::string> base64_decode(std::string_view text);

}  // namespace korba
