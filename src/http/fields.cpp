#include "http/fields.h"

#include <array>
#include <cstdint>

#include "common/text.h"

namespace korba {

namespace {

// Skips white space from `pos`; returns false when the text ends first.
bool skip_white_space(std::string_view text, size_t& pos) {
    while (pos < text.size()) {
        size_t next = pos;
        if (!is_white_space(next_code_point(text, next))) return true;
        pos = next;
    }
    return false;
}

std::optional<std::string> read_string_value(std::string_view text, size_t pos) {
    std::string value;
    bool escaped = false;
    for (; pos < text.size(); ++pos) {
        const char c = text[pos];
        if (escaped) {
            value += c;
            escaped = false;
        } else if (c == '\\') {
            escaped = true;
        } else if (c == '"') {
            return value;
        } else {
            value += c;
        }
    }
    return std::nullopt;
}

constexpr std::uint8_t SKIP = 0xFE;
constexpr std::uint8_t INVALID = 0xFF;

constexpr std::array<std::uint8_t, 256> make_base64_table() {
    std::array<std::uint8_t, 256> table{};
    for (auto& entry : table) entry = INVALID;
    for (int i = 0; i < 26; ++i) {
        table['A' + i] = static_cast<std::uint8_t>(i);
        table['a' + i] = static_cast<std::uint8_t>(26 + i);
    }
    for (int i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(52 + i);
    table['+'] = 62;
    table['/'] = 63;
    table['\n'] = table['\r'] = table[' '] = table['='] = SKIP;
    return table;
}

constexpr auto BASE64 = make_base64_table();

}  // namespace

std::optional<std::string> json_field(std::string_view json, std::string_view name) {
    std::string needle(1, '"');
    needle.append(name).push_back('"');
    const size_t found = json.find(needle);
    if (found == std::string_view::npos) return std::nullopt;
    size_t pos = found + needle.size();
    if (!skip_white_space(json, pos) || json[pos] != ':') return std::nullopt;
    ++pos;
    if (!skip_white_space(json, pos)) return std::nullopt;
    if (json[pos] == '"') return read_string_value(json, pos + 1);
    const size_t end = json.find_first_not_of("-0123456789", pos);
    const std::string_view run = json.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (run.empty()) return std::nullopt;
    return std::string(run);
}

std::optional<std::string> query_param(std::string_view query, std::string_view name) {
    for (;;) {
        const size_t amp = query.find('&');
        const std::string_view piece = query.substr(0, amp);
        const size_t equals = piece.find('=');
        if (equals != std::string_view::npos && piece.substr(0, equals) == name)
            return std::string(piece.substr(equals + 1));
        if (amp == std::string_view::npos) return std::nullopt;
        query.remove_prefix(amp + 1);
    }
}

std::optional<std::string> base64_decode(std::string_view text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    std::uint32_t accumulator = 0;
    int pending = 0;
    for (const char c : text) {
        const std::uint8_t value = BASE64[static_cast<unsigned char>(c)];
        if (value == SKIP) continue;
        if (value == INVALID) return std::nullopt;
        accumulator = (accumulator << 6) | value;
        if (pending < 2) {
            pending += 6;
        } else {
            pending -= 2;
            out += static_cast<char>((accumulator >> pending) & 0xFF);
        }
    }
    return out;
}

}  // namespace korba
