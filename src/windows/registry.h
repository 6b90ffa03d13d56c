// Values read with the registry functions under HKEY_LOCAL_MACHINE, behind a seam: the system's
// registry on Windows, none on POSIX (every key missing), a table in unit tests. Settings are
// changed only through the reg tool; this side only reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"

namespace korba {

struct RegistryValue {
    std::string name;
    std::string data;  // a REG_SZ value's text; empty for a value of any other type
    bool operator==(const RegistryValue&) const = default;
};

class Registry {
public:
    virtual ~Registry() = default;
    // A REG_SZ value; nullopt when the key or the value is missing or of another type.
    virtual std::optional<std::string> read_text(const std::string& key, const std::string& value) = 0;
    // A REG_DWORD value, likewise.
    virtual std::optional<std::uint32_t> read_number(const std::string& key, const std::string& value) = 0;
    // Every value of the key in the registry's order: none when the key is missing, the system's
    // error text when it cannot be read.
    virtual Result<std::vector<RegistryValue>> list_values(const std::string& key) = 0;
};

Registry& registry();
// `replacement` nullptr restores the system's.
void set_registry(Registry* replacement);
// The platform's own.
Registry& system_registry();

}  // namespace korba
