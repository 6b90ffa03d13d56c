// Stand-in for net.exe that a user's hand plays while the program runs: it renames the file
// KORBA_TAKE_PLACE_OF to that name + ".aparte", puts a copy of KORBA_TAKE_PLACE_WITH at its name,
// and then answers as an administrator's "net session" does (exit 0).
#include <windows.h>

#include <string>

namespace {

std::wstring variable(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

}  // namespace

int wmain() {
    const std::wstring place = variable(L"KORBA_TAKE_PLACE_OF");
    const std::wstring other = variable(L"KORBA_TAKE_PLACE_WITH");
    if (place.empty() || other.empty()) return 127;
    if (!MoveFileExW(place.c_str(), (place + L".aparte").c_str(), 0)) return 126;
    return CopyFileW(other.c_str(), place.c_str(), TRUE) ? 0 : 125;
}
