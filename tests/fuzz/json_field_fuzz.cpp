// json_field (in place) against a reference that follows the search rules one step at a time, and
// base64_field against the plain way to the same bytes: the reference's field of the text with its
// invalid UTF-8 replaced, decoded by the reference decoder.
#include <algorithm>
#include <optional>
#include <string>

#include "common/text.h"
#include "fuzz_input.h"
#include "http/fields.h"
#include "references.h"

namespace {

using namespace korba::fuzz;

void check(std::string_view json, std::string_view name) {
    std::string text(json);
    expect(copied(korba::json_field(text, name)) == reference_json_field(json, name),
           "json_field differs from the reference");
    // base64_field takes ASCII names only.
    if (!std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) return;
    const std::optional<std::string> field = reference_json_field(korba::to_valid_utf8(json), name);
    text = json;
    expect(copied(korba::base64_field(text, name)) == (field ? reference_decode(*field) : std::nullopt),
           "base64_field differs from decoding the field of the repaired text");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::string_view json = as_text(data, size);
    std::string_view name;
    if (!take_prefix(json, 16, name)) return 0;
    check(json, name);
    // The same with a long run in the middle, so that values cross the reader's 16 KiB blocks.
    const std::string longer = std::string(json.substr(0, json.size() / 2)) + std::string(20000, 'a') +
                               std::string(json.substr(json.size() / 2));
    check(longer, name);
    return 0;
}
