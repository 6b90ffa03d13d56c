#include <windows.h>

#include <vector>

#include "common/text.h"
#include "windows/autostart.h"

namespace korba {

std::string current_exe_path() {
    // Long paths do not fit MAX_PATH; grow until the name is not truncated.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size())
            return from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(buffer.data()), length));
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace korba
