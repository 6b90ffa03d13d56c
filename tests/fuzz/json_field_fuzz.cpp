// json_field against a reference that follows the search rules one step at a time.
#include <optional>
#include <string>

#include "common/text.h"
#include "fuzz_input.h"
#include "http/fields.h"

namespace {

// Position of the first character at or after `pos` that is not Unicode white space.
size_t skip_blanks(std::string_view text, size_t pos) {
    while (pos < text.size()) {
        size_t next = pos;
        if (!korba::is_white_space(korba::next_code_point(text, next))) break;
        pos = next;
    }
    return pos;
}

std::optional<std::string> reference_json_field(std::string_view json, std::string_view name) {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::string_view json = korba::fuzz::as_text(data, size);
    std::string_view name;
    if (!korba::fuzz::take_prefix(json, 16, name)) return 0;
    korba::fuzz::expect(korba::json_field(json, name) == reference_json_field(json, name),
                        "json_field differs from the reference");
    // The same with a long run in the middle, so that values cross the reader's 16 KiB blocks.
    const std::string longer = std::string(json.substr(0, json.size() / 2)) + std::string(20000, 'a') +
                               std::string(json.substr(json.size() / 2));
    korba::fuzz::expect(korba::json_field(longer, name) == reference_json_field(longer, name),
                        "json_field differs from the reference on a long value");
    return 0;
}
