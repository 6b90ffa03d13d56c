// POSIX has no registry: every value is missing.
#include "windows/registry.h"

namespace korba {

namespace {

class NoRegistry final : public Registry {
public:
    std::optional<std::string> read_text(const std::string&, const std::string&) override { return std::nullopt; }
    std::optional<std::uint32_t> read_number(const std::string&, const std::string&) override {
        return std::nullopt;
    }
};

}  // namespace

Registry& system_registry() {
    static NoRegistry instance;
    return instance;
}

}  // namespace korba
