#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

#include "common/text.h"
#include "windows/file_system.h"
#include "windows/install_dir.h"

namespace korba {

const bool SELF_INSTALL_AVAILABLE = true;
const std::uint32_t ACCESS_DENIED_ERROR = ERROR_ACCESS_DENIED;

namespace {
const wchar_t* wide_ptr(const std::u16string& wide) { return reinterpret_cast<const wchar_t*>(wide.c_str()); }

bool is_folder(const std::u16string& wide) {
    const DWORD attributes = GetFileAttributesW(wide_ptr(wide));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
}  // namespace

std::uint32_t create_folders_on_disk(const std::string& path) {
    // Each parent first; only the last creation's failure counts.
    DWORD error = 0;
    for (size_t end = 0; end != std::string::npos;) {
        end = path.find_first_of("\\/", end + 1);
        const std::string part = path.substr(0, end);
        if (part.empty() || part.back() == ':') continue;
        const std::u16string wide = to_wide(part);
        error = CreateDirectoryW(wide_ptr(wide), nullptr) || is_folder(wide) ? 0 : GetLastError();
    }
    return error;
}

std::uint32_t copy_file_on_disk(const std::string& from, const std::string& to) {
    return CopyFileW(wide_ptr(to_wide(from)), wide_ptr(to_wide(to)), FALSE) ? 0 : GetLastError();
}

std::optional<FileFacts> file_facts_on_disk(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(wide_ptr(to_wide(path)), GetFileExInfoStandard, &data)) return std::nullopt;
    return FileFacts{(std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow,
                     (std::uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) | data.ftLastWriteTime.dwLowDateTime};
}

std::uint32_t protect_folder_on_disk(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide_ptr(to_wide(sddl)), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return GetLastError();
    PSID owner = nullptr;
    PACL dacl = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    std::u16string wide = to_wide(path);
    const DWORD error = TreeResetNamedSecurityInfoW(
        reinterpret_cast<wchar_t*>(wide.data()), SE_FILE_OBJECT,
        OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, owner, nullptr,
        dacl, nullptr, FALSE, nullptr, ProgressInvokeNever, nullptr);
    LocalFree(descriptor);
    return error;
}

bool probe_write_access(const std::string& path) {
    const HANDLE file =
        CreateFileW(wide_ptr(to_wide(path)), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

}  // namespace korba
