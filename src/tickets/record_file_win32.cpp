// The ticket record on Windows files: appends through FILE_APPEND_DATA, flushes with FlushFileBuffers.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "common/text.h"
#include "tickets/record_file.h"

namespace korba {

const char FOLDER_SEPARATOR = '\\';

namespace {

LPCWSTR wide(const std::u16string& text) { return reinterpret_cast<LPCWSTR>(text.c_str()); }

HANDLE handle_of(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::uint32_t write_all(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD put = 0;
        const auto size = static_cast<DWORD>(std::min<size_t>(data.size(), 1u << 30));
        if (!WriteFile(file, data.data(), size, &put, nullptr)) return GetLastError();
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

// Created folders inherit the rules of the folder they are made in: the user's own profile, or
// the protected installation folder.
std::uint32_t create_private_folders(const std::string& path) {
    std::uint32_t error = 0;
    for (size_t end = 0; end != std::string::npos;) {
        end = path.find_first_of("\\/", end + 1);
        const std::u16string part = to_wide(path.substr(0, end));
        const DWORD failure = CreateDirectoryW(wide(part), nullptr) ? ERROR_SUCCESS : GetLastError();
        error = failure == ERROR_ALREADY_EXISTS ? 0 : failure;
    }
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
    const HANDLE file = CreateFileW(wide(name), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
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
    if (const std::uint32_t error = write_all(handle_of(handle), data); error != 0) return error;
    if (flush && !FlushFileBuffers(handle_of(handle))) return GetLastError();
    return 0;
}

void close_file(std::intptr_t handle) { CloseHandle(handle_of(handle)); }

}  // namespace korba
