// query_param against a reference that splits the query into its pieces first.
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "http/fields.h"

namespace {

std::optional<std::string> reference_query_param(std::string_view query, std::string_view name) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (size_t i = 0; i <= query.size(); ++i) {
        if (i == query.size() || query[i] == '&') {
            pieces.push_back(query.substr(start, i - start));
            start = i + 1;
        }
    }
    for (const std::string_view piece : pieces) {
        const size_t equals = piece.find('=');
        if (equals != std::string_view::npos && piece.substr(0, equals) == name)
            return std::string(piece.substr(equals + 1));
    }
    return std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    std::string_view query = korba::fuzz::as_text(data, size);
    std::string_view name;
    if (!korba::fuzz::take_prefix(query, 16, name)) return 0;
    korba::fuzz::expect(korba::query_param(query, name) == reference_query_param(query, name),
                        "query_param differs from the reference");
    return 0;
}
