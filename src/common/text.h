// Text conversions: UTF-8 everywhere, UTF-16 only at the Windows boundary.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace korba {

// UTF-8 to UTF-16 with one terminating NUL; invalid input becomes U+FFFD.
std::u16string to_wide(std::string_view utf8);
// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string from_wide(std::u16string_view wide);

// Every invalid UTF-8 sequence replaced by one U+FFFD.
std::string to_valid_utf8(std::string_view bytes);
bool is_valid_utf8(std::string_view bytes);

// Unicode White_Space.
bool is_white_space(char32_t c);
std::string_view trim_white_space(std::string_view utf8);

std::string ascii_lower(std::string_view text);

// Decodes one UTF-8 sequence at `pos`; returns the code point and advances `pos`.
// Invalid sequences give U+FFFD and advance by the maximal invalid prefix.
char32_t next_code_point(std::string_view utf8, size_t& pos);
void append_utf8(std::string& out, char32_t c);

// The UTC time to the second, as in 2026-12-09T13:05:01Z; the same whatever the time zone.
std::string utc_timestamp(std::chrono::system_clock::time_point when);

}  // namespace korba
