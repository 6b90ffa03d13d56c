// POSIX has no registry: every key and value is missing.
#include "windows/registry.h"

namespace korba {

namespace {

class NoRegistry final : public Registry {
public:
    std::optional<std::string> read_text(const std::string&, const std::string&) override { return std::nullopt; }
    std::optional<std::uint32_t> read_number(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    Result<std::vector<RegistryValue>> list_values(const std::string&) override { return std::vector<RegistryValue>{}; }
};

}  // namespace

Registry& system_registry() {
    static NoRegistry instance;
    return instance;
}

}  // namespace korba
