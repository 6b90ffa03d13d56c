// The MSI's custom action that runs the program's own install: the command line comes as the
// action's data, and whatever the program writes goes into the installer's log line by line, so
// that a refused setting or a failed install reads there as the program said it. The program's
// exit code decides whether the package installs.
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>

namespace {

std::wstring action_data(MSIHANDLE install) {
    wchar_t none[1] = L"";
    DWORD size = 0;
    if (MsiGetPropertyW(install, L"CustomActionData", none, &size) != ERROR_MORE_DATA) return L"";
    std::wstring data(++size, L'\0');
    if (MsiGetPropertyW(install, L"CustomActionData", data.data(), &size) != ERROR_SUCCESS) return L"";
    data.resize(size);
    return data;
}

// Field 1 holds the text, so that brackets in it are not read as the installer's own fields.
void log_line(MSIHANDLE install, const std::wstring& text) {
    const MSIHANDLE record = MsiCreateRecord(1);
    MsiRecordSetStringW(record, 0, L"korba-vizoza: [1]");
    MsiRecordSetStringW(record, 1, text.c_str());
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
    MsiCloseHandle(record);
}

void log_output(MSIHANDLE install, const std::string& utf8) {
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), length);
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty()) log_line(install, line);
        start = end + 1;
    }
}

}  // namespace

extern "C" __declspec(dllexport) UINT __stdcall RunInstall(MSIHANDLE install) {
    std::wstring command = action_data(install);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    if (command.empty() || !CreatePipe(&read, &write, &inherit, 0)) return ERROR_INSTALL_FAILURE;
    SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = write;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                        nullptr, &startup, &process);
    CloseHandle(write);
    if (!started) {
        CloseHandle(read);
        log_line(install, L"no se pudo ejecutar: " + command);
        return ERROR_INSTALL_FAILURE;
    }
    std::string output;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got > 0) output.append(buffer, got);
    CloseHandle(read);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    log_output(install, output);
    return code == 0 ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}
