#include <windows.h>

#include "common/console.h"
#include "common/text.h"

namespace korba {

namespace {
void write_to(DWORD which, std::string_view utf8) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) {
        const std::u16string wide = to_wide(utf8);
        DWORD written = 0;
        WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    while (!utf8.empty()) {
        DWORD written = 0;
        if (!WriteFile(handle, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) || written == 0)
            return;
        utf8.remove_prefix(written);
    }
}
}  // namespace

void write_stdout(std::string_view utf8) { write_to(STD_OUTPUT_HANDLE, utf8); }
void write_stderr(std::string_view utf8) { write_to(STD_ERROR_HANDLE, utf8); }

}  // namespace korba
