#include <windows.h>

#include <functional>
#include <mutex>
#include <thread>

#include "common/system_error.h"
#include "common/text.h"
#include "windows/handle_list_win32.h"
#include "windows/process.h"

namespace korba {

const char PATH_LIST_SEPARATOR = ';';
const char* const FOLDER_SEPARATORS = "\\/";
const char* const PROGRAM_SUFFIX = ".exe";

namespace {

std::wstring as_wstring(const std::string& utf8) {
    const std::u16string wide = to_wide(utf8);
    return std::wstring(wide.begin(), wide.end());
}

std::string folder_from(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t buffer[MAX_PATH];
    const UINT length = query(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
}

struct Handle {
    HANDLE handle = nullptr;
    ~Handle() { reset(); }
    void reset() {
        if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
        handle = nullptr;
    }
};

void read_all(HANDLE pipe, std::string& sink) {
    char buffer[65536];
    DWORD n = 0;
    while (ReadFile(pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) sink.append(buffer, n);
}

// Handles become inheritable only while one process is being created, so a child that another
// part of the program starts at the same time without a list of its own cannot keep these pipes open.
std::mutex creation_lock;

}  // namespace

std::vector<std::string> system_program_folders() {
    return {folder_from(GetSystemDirectoryW), folder_from(GetWindowsDirectoryW)};
}

std::string path_variable() {
    const DWORD size = GetEnvironmentVariableW(L"PATH", nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(L"PATH", value.data(), size);
    return from_wide(std::u16string_view(reinterpret_cast<const char16_t*>(value.data()), length < size ? length : 0));
}

bool is_program_file(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(as_wstring(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Result<CommandOutput> run_process(const std::string& application, const std::string& command_line,
                                  const std::string& folder) {
    Handle out_read, out_write, err_read, err_write, null_input;
    if (!CreatePipe(&out_read.handle, &out_write.handle, nullptr, 0) ||
        !CreatePipe(&err_read.handle, &err_write.handle, nullptr, 0))
        return fail(system_error_text(last_system_error()));
    null_input.handle = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (null_input.handle == INVALID_HANDLE_VALUE) return fail(system_error_text(last_system_error()));

    HandleList handle_list({null_input.handle, out_write.handle, err_write.handle});
    if (!handle_list.list) return fail(system_error_text(last_system_error()));
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = null_input.handle;
    startup.StartupInfo.hStdOutput = out_write.handle;
    startup.StartupInfo.hStdError = err_write.handle;
    startup.lpAttributeList = handle_list.list;
    PROCESS_INFORMATION process{};
    std::wstring line = as_wstring(command_line);
    const std::wstring current_folder = as_wstring(folder);
    {
        std::lock_guard<std::mutex> guard(creation_lock);
        for (HANDLE h : handle_list.handles) SetHandleInformation(h, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        const BOOL created =
            CreateProcessW(as_wstring(application).c_str(), line.data(), nullptr, nullptr, TRUE,
                           CREATE_UNICODE_ENVIRONMENT | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                           folder.empty() ? nullptr : current_folder.c_str(), &startup.StartupInfo, &process);
        const DWORD error = GetLastError();
        null_input.reset();
        out_write.reset();
        err_write.reset();
        if (!created) return fail(system_error_text(error));
    }
    Handle process_handle{process.hProcess};
    CloseHandle(process.hThread);

    CommandOutput output;
    std::thread err_reader(read_all, err_read.handle, std::ref(output.stderr_bytes));
    read_all(out_read.handle, output.stdout_bytes);
    err_reader.join();
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    GetExitCodeProcess(process.hProcess, &exit_code);
    output.exit_code = exit_code;
    return output;
}

}  // namespace korba
