// Values read with the registry functions under HKEY_LOCAL_MACHINE, behind a seam: the system's
// registry on Windows, none on POSIX (every value missing), a table in unit tests. Settings are
// changed only through the reg tool; this side only reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace korba {

class Registry {
public:
    virtual ~Registry() = default;
    // A REG_SZ value; nullopt when the key or the value is missing or of another type.
    virtual std::optional<std::string> read_text(const std::string& key, const std::string& value) = 0;
    // A REG_DWORD value, likewise.
    virtual std::optional<std::uint32_t> read_number(const std::string& key, const std::string& value) = 0;
};

Registry& registry();
// `replacement` nullptr restores the system's.
void set_registry(Registry* replacement);
// The platform's own.
Registry& system_registry();

}  // namespace korba
