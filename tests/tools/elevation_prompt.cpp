// Stand-in for powershell.exe in the install journeys. It records its arguments (KORBA_PROMPT_RECORD)
// and plays the elevation prompt of the one script the program sends: with KORBA_PROMPT_ANSWER=yes it
// records ["starts", the program, whether C:\KORBA exists at that moment], starts the named program
// with the listed arguments joined by bare spaces, as Start-Process does, waits, and exits with that
// program's code; the program's output goes to the file KORBA_PROMPT_WINDOW (its own window), and
// KORBA_ELEVATED_EXIT_CODE, when set, becomes its KORBA_EXIT_CODE (what a net stand-in answers an
// elevated process). Any other answer refuses: exit 1223. An unexpected call fails like a script error.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "json_line.h"

namespace {

const std::wstring BEFORE_PATH = L"try { $p = Start-Process -FilePath ";
const std::wstring BEFORE_LIST = L" -ArgumentList @(";
const std::wstring AFTER_LIST = L") -Verb RunAs -Wait -PassThru; exit $p.ExitCode } catch { exit 1223 }";

struct Launch {
    std::wstring path;
    std::wstring arguments;
};

// PowerShell's five single quotes.
bool is_quote(wchar_t c) { return c == L'\'' || (c >= 0x2018 && c <= 0x201B); }

// 'a''b','c' -> a'b c (any two quotes side by side are one literal quote)
std::optional<std::wstring> joined_list(const std::wstring& list) {
    std::wstring joined;
    size_t pos = 0;
    while (pos < list.size()) {
        if (!is_quote(list[pos])) return std::nullopt;
        if (!joined.empty()) joined += L' ';
        for (++pos;; ++pos) {
            if (pos >= list.size()) return std::nullopt;
            if (!is_quote(list[pos])) {
                joined += list[pos];
            } else if (pos + 1 < list.size() && is_quote(list[pos + 1])) {
                joined += list[pos];
                ++pos;
            } else {
                break;
            }
        }
        ++pos;
        if (pos < list.size() && list[pos++] != L',') return std::nullopt;
    }
    return joined;
}

std::optional<Launch> parse(const std::wstring& script) {
    if (script.rfind(BEFORE_PATH, 0) != 0 || script.size() < AFTER_LIST.size() ||
        script.compare(script.size() - AFTER_LIST.size(), AFTER_LIST.size(), AFTER_LIST) != 0)
        return std::nullopt;
    const size_t path_end = script.find(BEFORE_LIST, BEFORE_PATH.size());
    if (path_end == std::wstring::npos) return std::nullopt;
    const size_t list_start = path_end + BEFORE_LIST.size();
    const std::optional<std::wstring> list =
        joined_list(script.substr(list_start, script.size() - AFTER_LIST.size() - list_start));
    std::optional<std::wstring> path = joined_list(script.substr(BEFORE_PATH.size(), path_end - BEFORE_PATH.size()));
    if (!list || !path) return std::nullopt;
    // The path comes Windows-quoted, which the shell's start takes off again.
    if (path->size() >= 2 && path->front() == L'"' && path->back() == L'"') *path = path->substr(1, path->size() - 2);
    return Launch{*path, *list};
}

int script_error(const char* text) {
    std::fputs(text, stderr);
    return 1;
}

std::wstring variable(const wchar_t* name) {
    wchar_t value[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(value, length) : std::wstring();
}

HANDLE inheritable(const std::wstring& file, DWORD access, DWORD disposition) {
    SECURITY_ATTRIBUTES security{sizeof security, nullptr, TRUE};
    const HANDLE handle = CreateFileW(file.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, &security, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE && disposition == OPEN_ALWAYS) SetFilePointer(handle, 0, nullptr, FILE_END);
    return handle;
}

int start_elevated(const Launch& launch) {
    const std::wstring window = variable(L"KORBA_PROMPT_WINDOW");
    const HANDLE output = inheritable(window.empty() ? L"NUL" : window, GENERIC_WRITE, OPEN_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inheritable(L"NUL", GENERIC_READ, OPEN_EXISTING);
    startup.hStdOutput = startup.hStdError = output;
    std::wstring command_line = L"\"" + launch.path + L"\" " + launch.arguments;
    const std::wstring elevated_code = variable(L"KORBA_ELEVATED_EXIT_CODE");
    if (!elevated_code.empty()) SetEnvironmentVariableW(L"KORBA_EXIT_CODE", elevated_code.c_str());
    const bool folder_there = GetFileAttributesW(L"C:\\KORBA") != INVALID_FILE_ATTRIBUTES;
    append_json_line(L"KORBA_PROMPT_RECORD", {L"starts", launch.path, folder_there ? L"C:\\KORBA" : L"sin C:\\KORBA"});
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(launch.path.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &process))
        return 1223;  // the script's catch
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    append_json_line(L"KORBA_PROMPT_RECORD", args);
    const std::vector<std::wstring> options{L"-NoProfile", L"-ExecutionPolicy", L"Bypass", L"-Command"};
    if (args.size() != 5 || !std::equal(options.begin(), options.end(), args.begin()))
        return script_error("stand-in: unexpected arguments\n");
    const std::optional<Launch> launch = parse(args[4]);
    if (!launch) return script_error("stand-in: unexpected script\n");
    if (variable(L"KORBA_PROMPT_ANSWER") != L"yes") return 1223;
    return start_elevated(*launch);
}
