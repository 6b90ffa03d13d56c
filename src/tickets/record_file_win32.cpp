// The ticket record on Windows files: appends through FILE_APPEND_DATA, flushes with FlushFileBuffers.
#include <windows.h>
// After windows.h, which they need.
#include <sddl.h>

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "tickets/record_file.h"

namespace korba {

const char FOLDER_SEPARATOR = '\\';
const std::uint32_t LOCKED_ELSEWHERE = ERROR_SHARING_VIOLATION;

namespace {

LPCWSTR wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

// `at_end`: each write goes to the end of the file, wherever the last one left off.
std::uint32_t write_all(HANDLE file, std::string_view data, bool at_end = false) {
    while (!data.empty()) {
        DWORD put = 0;
        OVERLAPPED end{};
        end.Offset = end.OffsetHigh = 0xFFFFFFFF;
        const auto size = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
        if (!WriteFile(file, data.data(), size, &put, at_end ? &end : nullptr)) return GetLastError();
        data.remove_prefix(put);
    }
    return 0;
}

}  // namespace

std::optional<std::string> environment_value(const char* name) {
    const std::u16string wide_name = to_wide(name);
    const DWORD size = GetEnvironmentVariableW(wide(wide_name), nullptr, 0);
    if (size == 0) return std::nullopt;
    std::vector<char16_t> value(size);
    const DWORD length = GetEnvironmentVariableW(wide(wide_name), reinterpret_cast<LPWSTR>(value.data()), size);
    if (length == 0 || length >= size) return std::nullopt;
    return from_wide(std::u16string_view(value.data(), length));
}

namespace {

// The access rules of a folder made here: the calling user, SYSTEM and the administrators alone,
// whatever the folder it is made in lets others do.
std::uint32_t private_folder_rules(std::u16string& sddl) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return GetLastError();
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size ? size : 1);
    wchar_t* sid = nullptr;
    const bool known = GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
                       ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid);
    const DWORD error = known ? 0 : GetLastError();
    CloseHandle(token);
    if (!known) return error;
    sddl = u"D:P(A;OICI;FA;;;" + std::u16string(reinterpret_cast<const char16_t*>(sid)) +
           u")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    LocalFree(sid);
    return 0;
}

}  // namespace

// Folders that exist are left as they are (the user's profile, the protected installation
// folder); the ones made here get the private rules in the creating call itself.
std::uint32_t create_private_folders(const std::string& path) {
    std::u16string sddl;
    if (const std::uint32_t error = private_folder_rules(sddl)) return error;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide(sddl), SDDL_REVISION_1, &descriptor, nullptr))
        return GetLastError();
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    std::uint32_t error = 0;
    for (size_t end = 0; end != std::string::npos;) {
        end = path.find_first_of("\\/", end + 1);
        const std::u16string part = to_wide(path.substr(0, end));
        const DWORD failure = CreateDirectoryW(wide(part), &security) ? ERROR_SUCCESS : GetLastError();
        error = failure == ERROR_ALREADY_EXISTS ? 0 : failure;
    }
    LocalFree(descriptor);
    return error;
}

std::uint32_t read_whole_file(const std::string& path, std::string& contents) {
    contents.clear();
    const std::u16string name = to_wide(path);
    const HANDLE file = CreateFileW(wide(name), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : error;
    }
    char buffer[65536];
    DWORD got = 0;
    std::uint32_t error = 0;
    while (true) {
        if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
            error = GetLastError();
            break;
        }
        if (got == 0) break;
        contents.append(buffer, got);
    }
    CloseHandle(file);
    return error;
}

std::uint32_t write_file_flushed(const std::string& path, std::string_view contents) {
    const std::u16string name = to_wide(path);
    const HANDLE file =
        CreateFileW(wide(name), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    std::uint32_t error = write_all(file, contents);
    if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
    CloseHandle(file);
    if (error != 0) DeleteFileW(wide(name));
    return error;
}

std::uint32_t rename_over(const std::string& from, const std::string& to) {
    const std::u16string old_name = to_wide(from);
    const std::u16string new_name = to_wide(to);
    if (!MoveFileExW(wide(old_name), wide(new_name), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return GetLastError();
    return 0;
}

std::uint32_t open_appending(const std::string& path, std::intptr_t& handle) {
    const std::u16string name = to_wide(path);
    // Write access besides appending, so that a failed line can be cut off again.
    const HANDLE file =
        CreateFileW(wide(name), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    handle = reinterpret_cast<std::intptr_t>(file);
    return 0;
}

// Shared with nobody; the handle goes with the process.
std::uint32_t open_exclusive(const std::string& path, std::intptr_t& handle) {
    const std::u16string name = to_wide(path);
    const HANDLE file = CreateFileW(wide(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    handle = reinterpret_cast<std::intptr_t>(file);
    return 0;
}

std::uint32_t append_to(std::intptr_t handle, std::string_view data, bool flush) {
    if (const std::uint32_t error = write_all(handle_of(handle), data, true); error != 0) return error;
    if (flush && !FlushFileBuffers(handle_of(handle))) return GetLastError();
    return 0;
}

std::uint32_t file_size(std::intptr_t handle, std::uint64_t& size) {
    LARGE_INTEGER length;
    if (!GetFileSizeEx(handle_of(handle), &length)) return GetLastError();
    size = static_cast<std::uint64_t>(length.QuadPart);
    return 0;
}

std::uint32_t cut_file(std::intptr_t handle, std::uint64_t size) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle_of(handle), position, nullptr, FILE_BEGIN) || !SetEndOfFile(handle_of(handle)))
        return GetLastError();
    return 0;
}

bool same_file(std::intptr_t handle, const std::string& path) {
    const std::u16string name = to_wide(path);
    const HANDLE named = CreateFileW(wide(name), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (named == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION open_file, at_path;
    // A file is known by its volume and its index there.
    const bool same = GetFileInformationByHandle(handle_of(handle), &open_file) &&
                      GetFileInformationByHandle(named, &at_path) &&
                      open_file.dwVolumeSerialNumber == at_path.dwVolumeSerialNumber &&
                      open_file.nFileIndexHigh == at_path.nFileIndexHigh &&
                      open_file.nFileIndexLow == at_path.nFileIndexLow;
    CloseHandle(named);
    return same;
}

void close_file(std::intptr_t handle) { CloseHandle(handle_of(handle)); }

}  // namespace korba
