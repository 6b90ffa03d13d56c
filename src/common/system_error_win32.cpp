#include <windows.h>

#include "common/system_error.h"
#include "common/text.h"

namespace korba {

std::uint32_t last_system_error() { return GetLastError(); }

std::string system_error_text(std::uint32_t code) {
    wchar_t buffer[2048];
    const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    DWORD length = FormatMessageW(flags, nullptr, code, 0, buffer, 2048, nullptr);
    if (length == 0) {
        const DWORD format_error = GetLastError();
        return "OS Error " + std::to_string(code) + " (FormatMessageW() returned error " +
               std::to_string(format_error) + ")";
    }
    while (length > 0 && (buffer[length - 1] == L' ' || buffer[length - 1] == L'\t' ||
                          buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n'))
        --length;
    const std::u16string_view wide(reinterpret_cast<const char16_t*>(buffer), length);
    return from_wide(wide) + " (os error " + std::to_string(code) + ")";
}

}  // namespace korba
