// Stand-in that records its arguments (KORBA_PASS_RECORD) and then runs the real tool, KORBA_PASS_TOOL
// (the system's one, set aside by the test), with the very same command line, passing on its output and
// exit code. Placed beside the program it shows what the real tool received, while the real tool does the work.
#include <windows.h>

#include <string>
#include <vector>

#include "json_line.h"

namespace {

// The command line without the program name, exactly as given.
std::wstring arguments_text() {
    const std::wstring line = GetCommandLineW();
    size_t pos = 0;
    if (!line.empty() && line[0] == L'"') {
        pos = line.find(L'"', 1);
        pos = pos == std::wstring::npos ? line.size() : pos + 1;
    } else {
        pos = line.find_first_of(L" \t");
        if (pos == std::wstring::npos) pos = line.size();
    }
    return line.substr(pos);
}

std::wstring own_file_name() {
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    const std::wstring full(path, length);
    return full.substr(full.find_last_of(L"\\/") + 1);
}

HANDLE inherited(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    return handle;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    append_json_line(L"KORBA_PASS_RECORD", std::vector<std::wstring>(argv + 1, argv + argc));
    wchar_t real[MAX_PATH];
    if (!GetEnvironmentVariableW(L"KORBA_PASS_TOOL", real, MAX_PATH)) return 127;
    const std::wstring name = own_file_name();
    std::wstring command_line = L"\"" + name + L"\"" + arguments_text();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inherited(STD_INPUT_HANDLE);
    startup.hStdOutput = inherited(STD_OUTPUT_HANDLE);
    startup.hStdError = inherited(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(real, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return 127;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}
