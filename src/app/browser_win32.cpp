#include <windows.h>

#include <optional>
#include <vector>

#include "app/browser.h"
#include "common/text.h"
#include "windows/command_runner.h"
#include "windows/handle_list_win32.h"
#include "windows/process.h"
#include "windows/win_command_line.h"

namespace korba {

namespace {
// An inheritable copy of one of our standard handles, so the child writes where we write.
HANDLE inheritable_copy(DWORD which) {
    const HANDLE original = GetStdHandle(which);
    HANDLE copy = nullptr;
    if (original == nullptr || original == INVALID_HANDLE_VALUE) return nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), original, GetCurrentProcess(), &copy, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}
}  // namespace

// "start" hands the address to the default browser; cmd itself is started and let go.
void open_in_browser(const std::string& url) {
    const std::vector<CommandArg> args{{"/C"}, {"start"}, {""}, {url}};
    const std::optional<std::string> cmd = find_program("cmd");
    if (!cmd) return;
    const std::u16string application = to_wide(*cmd);
    // Started in the system folder, like every child, never in the folder the program was started from.
    const std::u16string folder = to_wide(system_program_folders().front());
    std::u16string line = to_wide(render_command_line("cmd", args));
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = inheritable_copy(STD_INPUT_HANDLE);
    startup.StartupInfo.hStdOutput = inheritable_copy(STD_OUTPUT_HANDLE);
    startup.StartupInfo.hStdError = inheritable_copy(STD_ERROR_HANDLE);
    // It inherits those copies and nothing else of ours.
    std::vector<HANDLE> copies;
    for (HANDLE copy : {startup.StartupInfo.hStdInput, startup.StartupInfo.hStdOutput, startup.StartupInfo.hStdError})
        if (copy) copies.push_back(copy);
    HandleList handle_list(copies);
    startup.lpAttributeList = handle_list.list;
    const DWORD flags = CREATE_UNICODE_ENVIRONMENT | (handle_list.list ? EXTENDED_STARTUPINFO_PRESENT : 0);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(reinterpret_cast<LPCWSTR>(application.c_str()), reinterpret_cast<LPWSTR>(line.data()), nullptr,
                       nullptr, handle_list.list != nullptr, flags, nullptr, reinterpret_cast<LPCWSTR>(folder.c_str()),
                       &startup.StartupInfo, &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE copy : copies) CloseHandle(copy);
}

}  // namespace korba
