// base64_decode (in place) against a plain reference decoder written from the rules, and a round
// trip through an encoder with line breaks and padding.
#include <optional>
#include <string>

#include "fuzz_input.h"
#include "http/fields.h"
#include "references.h"

namespace {

using korba::fuzz::copied;
using korba::fuzz::expect;

constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Standard encoding; `wrap` > 0 puts CR LF after every `wrap` characters.
std::string encode(std::string_view bytes, size_t wrap, bool pad) {
    std::string out;
    size_t column = 0;
    auto put = [&](char c) {
        out += c;
        if (wrap && ++column == wrap) {
            out += "\r\n";
            column = 0;
        }
    };
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        unsigned group = 0;
        for (size_t k = 0; k < 3; ++k) group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (size_t k = 0; k < n + 1; ++k) put(ALPHABET[(group >> (18 - 6 * k)) & 63]);
        if (pad)
            for (size_t k = n + 1; k < 4; ++k) put('=');
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view input = korba::fuzz::as_text(data, size);
    std::string text(input);
    expect(copied(korba::base64_decode(text)) == korba::fuzz::reference_decode(input),
           "decoder differs from the reference");

    if (input.empty()) return 0;
    const auto options = static_cast<unsigned char>(input[0]);
    const std::string_view bytes = input.substr(1);
    text = encode(bytes, (options & 1) ? 76 : options >> 2, options & 2);
    const std::optional<std::string_view> decoded = korba::base64_decode(text);
    expect(decoded && *decoded == bytes, "encoded bytes do not come back");
    return 0;
}
