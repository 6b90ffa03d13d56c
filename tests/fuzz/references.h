// Plain versions of the field readers, written from the rules one step at a time and copying
// freely: the fuzz targets hold the in-place product code to them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/text.h"

namespace korba::fuzz {

// Position of the first character at or after `pos` that is not Unicode white space.
inline size_t skip_blanks(std::string_view text, size_t pos) {
    while (pos < text.size()) {
        size_t next = pos;
        if (!is_white_space(next_code_point(text, next))) break;
        pos = next;
    }
    return pos;
}

inline std::optional<std::string> reference_json_field(std::string_view json, std::string_view name) {
    const std::string needle = "\"" + std::string(name) + "\"";
    const size_t found = json.find(needle);
    if (found == std::string_view::npos) return std::nullopt;
    size_t pos = skip_blanks(json, found + needle.size());
    if (pos == json.size() || json[pos] != ':') return std::nullopt;
    pos = skip_blanks(json, pos + 1);
    if (pos == json.size()) return std::nullopt;
    std::string value;
    if (json[pos] == '"') {
        for (++pos; pos < json.size(); ++pos) {
            if (json[pos] == '"') return value;
            if (json[pos] == '\\') {
                if (++pos == json.size()) break;
            }
            value += json[pos];
        }
        return std::nullopt;
    }
    while (pos < json.size() && (json[pos] == '-' || (json[pos] >= '0' && json[pos] <= '9'))) value += json[pos++];
    if (value.empty()) return std::nullopt;
    return value;
}

inline std::optional<int> sextet(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return std::nullopt;
}

inline std::optional<std::string> reference_decode(std::string_view text) {
    std::string out;
    unsigned bits = 0;
    int pending = 0;
    for (const char c : text) {
        if (c == '\n' || c == '\r' || c == ' ' || c == '=') continue;
        const std::optional<int> value = sextet(c);
        if (!value) return std::nullopt;
        bits = (bits << 6) | static_cast<unsigned>(*value);
        pending += 6;
        if (pending >= 8) {
            pending -= 8;
            out += static_cast<char>((bits >> pending) & 0xFF);
            bits &= (1u << pending) - 1;
        }
    }
    return out;
}

// A copy of an in-place reader's answer, to compare with a reference's.
inline std::optional<std::string> copied(std::optional<std::string_view> value) {
    if (!value) return std::nullopt;
    return std::string(*value);
}

}  // namespace korba::fuzz
