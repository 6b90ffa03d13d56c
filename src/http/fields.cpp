#include "http/fields.h"

#include <array>
#include <cstdint>
#include <cstring>

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

// Moves `piece` left to `out` (they may overlap) and returns the end of the moved bytes.
char* move_to(char* out, std::string_view piece) {
    if (out != piece.data()) std::memmove(out, piece.data(), piece.size());
    return out + piece.size();
}

// The value is searched a block at a time (each block is still in cache when its bytes move),
// and runs without a backslash move whole; until the first backslash nothing moves at all.
// Every byte is searched once for each of the two special characters. The reduced value ends at
// `out`, never past the byte being read, so no byte is overwritten before it is read.
std::optional<std::string_view> read_string_value(std::span<char> json, size_t pos) {
    constexpr size_t BLOCK = 16384;
    const std::string_view text(json.data(), json.size());
    char* const value = json.data() + pos;
    char* out = value;
    while (pos < text.size()) {
        const std::string_view block = text.substr(pos, BLOCK);
        const size_t quote = block.find('"');
        const std::string_view run = block.substr(0, quote);  // up to the quote, or the whole block
        size_t done = 0;
        for (size_t backslash = run.find('\\'); backslash != std::string_view::npos; backslash = run.find('\\', done)) {
            // The character after a backslash is kept as it is, whatever it is.
            if (pos + backslash + 1 == text.size()) return std::nullopt;
            out = move_to(out, run.substr(done, backslash - done));
            *out++ = text[pos + backslash + 1];
            done = backslash + 2;
            if (done > run.size()) break;  // it was the quote, or the first byte of the next block
        }
        if (done > run.size()) {
            pos += done;
            continue;
        }
        out = move_to(out, run.substr(done));
        if (quote != std::string_view::npos) return std::string_view(value, static_cast<size_t>(out - value));
        pos += run.size();
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

// The sextet of each character already shifted to its place in a group of four; any other
// byte sets bits above the 24 a group fills, so one test finds it in a whole group.
constexpr std::uint32_t NOT_PLAIN = 0xFF000000;
constexpr std::array<std::uint32_t, 256> shifted_table(int shift) {
    std::array<std::uint32_t, 256> table{};
    for (size_t c = 0; c < 256; ++c)
        table[c] = BASE64[c] < 64 ? static_cast<std::uint32_t>(BASE64[c]) << shift : NOT_PLAIN;
    return table;
}
constexpr std::array<std::array<std::uint32_t, 256>, 4> GROUP = {shifted_table(18), shifted_table(12), shifted_table(6),
                                                                 shifted_table(0)};

}  // namespace

std::optional<std::string_view> json_field(std::span<char> json, std::string_view name) {
    const std::string_view text(json.data(), json.size());
    std::string needle(1, '"');
    needle.append(name).push_back('"');
    const size_t found = text.find(needle);
    if (found == std::string_view::npos) return std::nullopt;
    size_t pos = found + needle.size();
    if (!skip_white_space(text, pos) || text[pos] != ':') return std::nullopt;
    ++pos;
    if (!skip_white_space(text, pos)) return std::nullopt;
    if (text[pos] == '"') return read_string_value(json, pos + 1);
    const size_t end = text.find_first_not_of("-0123456789", pos);
    const std::string_view run = text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
    if (run.empty()) return std::nullopt;
    return run;
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

std::optional<std::string_view> base64_decode(std::span<char> text) {
    // Three bytes come out for every four characters read, and a group is read before its
    // bytes are written, so the output never overtakes the input.
    char* const out = text.data();
    char* next = out;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = in + text.size();
    std::uint32_t accumulator = 0;
    int pending = 0;
    while (in < end) {
        // Groups of four plain characters from a clean state give three bytes at once; anything
        // else (line breaks, padding, invalid bytes, the last characters) goes one by one.
        if (pending == 0) {
            for (; end - in >= 4; in += 4, next += 3) {
                const std::uint32_t group = GROUP[0][in[0]] | GROUP[1][in[1]] | GROUP[2][in[2]] | GROUP[3][in[3]];
                if (group >= (1u << 24)) break;
                next[0] = static_cast<char>(group >> 16);
                next[1] = static_cast<char>(group >> 8);
                next[2] = static_cast<char>(group);
            }
            if (in == end) break;
        }
        const std::uint8_t value = BASE64[*in++];
        if (value == SKIP) continue;
        if (value == INVALID) return std::nullopt;
        accumulator = (accumulator << 6) | value;
        if (pending < 2) {
            pending += 6;
        } else {
            pending -= 2;
            *next++ = static_cast<char>((accumulator >> pending) & 0xFF);
        }
    }
    return std::string_view(out, static_cast<size_t>(next - out));
}

void append_base64(std::string& out, std::string_view bytes) {
    static constexpr char DIGITS[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + (bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (left > 1) group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        if (left > 2) group |= static_cast<std::uint8_t>(bytes[i + 2]);
        out += DIGITS[group >> 18];
        out += DIGITS[(group >> 12) & 63];
        out += left > 1 ? DIGITS[(group >> 6) & 63] : '=';
        out += left > 2 ? DIGITS[group & 63] : '=';
    }
}

std::optional<std::string_view> base64_field(std::span<char> json, std::string_view name) {
    // Repair turns each invalid sequence into U+FFFD, which is neither ASCII nor white space, and
    // never changes an ASCII byte nor joins one to its neighbours. The name, the colon, the quotes,
    // the backslash and the digits are ASCII, so the bytes as sent lead to the same field and, where
    // it is ASCII, to the same value; a value with any other byte is invalid Base64 in either form.
    const std::optional<std::string_view> value = json_field(json, name);
    if (!value) return std::nullopt;
    return base64_decode(json.subspan(static_cast<size_t>(value->data() - json.data()), value->size()));
}

}  // namespace korba
