#include <windows.h>

#include <optional>

#include "app/browser.h"
#include "common/text.h"
#include "windows/command_runner.h"
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
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable_copy(STD_INPUT_HANDLE);
    startup.hStdOutput = inheritable_copy(STD_OUTPUT_HANDLE);
    startup.hStdError = inheritable_copy(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (CreateProcessW(reinterpret_cast<LPCWSTR>(application.c_str()), reinterpret_cast<LPWSTR>(line.data()), nullptr,
                       nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT, nullptr, reinterpret_cast<LPCWSTR>(folder.c_str()), &startup,
                       &process)) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    for (HANDLE copy : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
        if (copy) CloseHandle(copy);
}

}  // namespace korba
