// Request fields by text search (no JSON parser), URL query values and Base64. A ticket's value
// can fill the 8 MiB body, so the JSON and Base64 readers work in place instead of copying it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace korba {

// The value of the first "name" in the text: a string (escapes reduced to their next character,
// written over the text from where the value starts) or a run of digits and minus signs; absent
// otherwise. The view points into `json`.
std::optional<std::string_view> json_field(std::span<char> json, std::string_view name);
// The value of the first name=value piece of the query, byte for byte.
std::optional<std::string> query_param(std::string_view query, std::string_view name);
// Decodes over the text itself, from its start. Standard alphabet; CR, LF, space and "=" skipped
// anywhere; anything else is invalid.
std::optional<std::string_view> base64_decode(std::span<char> text);
// Standard padded Base64 of `bytes`, appended to `out` (a reply can carry megabytes of it).
void append_base64(std::string& out, std::string_view bytes);
// The Base64 value of the first "name" (ASCII), decoded in place: the same bytes as decoding that
// field of the text with every invalid UTF-8 sequence replaced by U+FFFD, without making that text.
std::optional<std::string_view> base64_field(std::span<char> json, std::string_view name);

}  // namespace korba
