// The registry functions, one RegGetValueW per read.
#include <windows.h>

#include "common/text.h"
#include "windows/registry.h"

namespace korba {

namespace {

LPCWSTR wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

class WinRegistry final : public Registry {
public:
    // Sized by a first call; a value that grew in between is left unread.
    std::optional<std::string> read_text(const std::string& key, const std::string& value) override {
        const std::u16string wide_key = to_wide(key);
        const std::u16string wide_value = to_wide(value);
        DWORD bytes = 0;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, wide(wide_key), wide(wide_value), RRF_RT_REG_SZ, nullptr, nullptr,
                         &bytes) != ERROR_SUCCESS)
            return std::nullopt;
        std::u16string text(bytes / sizeof(char16_t) + 1, u'\0');
        if (RegGetValueW(HKEY_LOCAL_MACHINE, wide(wide_key), wide(wide_value), RRF_RT_REG_SZ, nullptr, text.data(),
                         &bytes) != ERROR_SUCCESS)
            return std::nullopt;
        return from_wide(std::u16string_view(text.c_str()));
    }
    std::optional<std::uint32_t> read_number(const std::string& key, const std::string& value) override {
        DWORD number = 0;
        DWORD bytes = sizeof number;
        if (RegGetValueW(HKEY_LOCAL_MACHINE, wide(to_wide(key)), wide(to_wide(value)), RRF_RT_REG_DWORD, nullptr,
                         &number, &bytes) != ERROR_SUCCESS)
            return std::nullopt;
        return std::uint32_t{number};
    }
};

}  // namespace

Registry& system_registry() {
    static WinRegistry instance;
    return instance;
}

}  // namespace korba
