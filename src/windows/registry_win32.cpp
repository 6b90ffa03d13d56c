// The registry functions, one RegGetValueW per read, RegEnumValueW for a key's values.
#include <windows.h>

#include "common/system_error.h"
#include "common/text.h"
#include "windows/registry.h"

namespace korba {

namespace {

LPCWSTR wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

struct Key {
    HKEY handle = nullptr;
    ~Key() {
        if (handle) RegCloseKey(handle);
    }
};

// Value `index` of an open key, sized by the key's longest name and data.
LSTATUS read_value(HKEY key, DWORD index, DWORD longest_name, DWORD longest_data, RegistryValue& value) {
    std::u16string name(longest_name + 1, u'\0');
    std::u16string data(longest_data / sizeof(char16_t) + 1, u'\0');
    DWORD name_length = longest_name + 1;
    DWORD data_bytes = longest_data;
    DWORD type = 0;
    const LSTATUS status = RegEnumValueW(key, index, reinterpret_cast<LPWSTR>(name.data()), &name_length, nullptr,
                                         &type, reinterpret_cast<LPBYTE>(data.data()), &data_bytes);
    if (status != ERROR_SUCCESS) return status;
    value.name = from_wide(std::u16string_view(name.data(), name_length));
    value.data = type == REG_SZ ? from_wide(std::u16string_view(data.c_str())) : std::string();
    return ERROR_SUCCESS;
}

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
    Result<std::vector<RegistryValue>> list_values(const std::string& key) override {
        Key open;
        LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, wide(to_wide(key)), 0, KEY_QUERY_VALUE, &open.handle);
        if (status == ERROR_FILE_NOT_FOUND) return std::vector<RegistryValue>{};
        DWORD count = 0, longest_name = 0, longest_data = 0;
        if (status == ERROR_SUCCESS)
            status = RegQueryInfoKeyW(open.handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                                      &longest_name, &longest_data, nullptr, nullptr);
        std::vector<RegistryValue> values(count);
        for (DWORD index = 0; status == ERROR_SUCCESS && index < count; ++index)
            status = read_value(open.handle, index, longest_name, longest_data, values[index]);
        if (status != ERROR_SUCCESS) return fail(system_error_text(static_cast<std::uint32_t>(status)));
        return values;
    }
};

}  // namespace

Registry& system_registry() {
    static WinRegistry instance;
    return instance;
}

}  // namespace korba
