#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>

#include "common/system_error.h"
#include "common/text.h"
#include "windows/file_system.h"
#include "windows/file_system_win32.h"
#include "windows/install_dir.h"

namespace korba {

const bool SELF_INSTALL_AVAILABLE = true;
const std::uint32_t ACCESS_DENIED_ERROR = ERROR_ACCESS_DENIED;

std::string security_text(PSECURITY_DESCRIPTOR descriptor) {
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted)) return {};
    // Only a real list goes through the system's conversion: some write a NULL one (everyone may do
    // anything) as an empty protected list (nobody may).
    const SECURITY_INFORMATION parts = OWNER_SECURITY_INFORMATION | (dacl ? DACL_SECURITY_INFORMATION : 0);
    wchar_t* text = nullptr;
    if (!ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, parts, &text, nullptr))
        return {};
    std::string sddl = from_wide(reinterpret_cast<const char16_t*>(text));
    LocalFree(text);
    return present && !dacl ? sddl + "D:NO_ACCESS_CONTROL" : sddl;
}

namespace {
const wchar_t* wide_ptr(const std::u16string& wide) { return reinterpret_cast<const wchar_t*>(wide.c_str()); }

std::string folder_security_text(const std::u16string& wide) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(wide_ptr(wide), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    std::string sddl = security_text(descriptor);
    LocalFree(descriptor);
    return sddl;
}
}  // namespace

const std::uint32_t ALREADY_EXISTS_ERROR = ERROR_ALREADY_EXISTS;

FolderFacts folder_facts_on_disk(const std::string& path) {
    const std::u16string wide = to_wide(path);
    // The attributes of a junction or link are its own, never those of where it leads.
    const DWORD attributes = GetFileAttributesW(wide_ptr(wide));
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
    const bool reparse_point = attributes & FILE_ATTRIBUTE_REPARSE_POINT;
    return {true, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, reparse_point,
            reparse_point ? std::string() : folder_security_text(wide)};
}

std::uint32_t create_protected_folder_on_disk(const std::string& path, const std::string& sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(wide_ptr(to_wide(sddl)), SDDL_REVISION_1, &descriptor,
                                                              nullptr))
        return GetLastError();
    SECURITY_ATTRIBUTES security{sizeof security, descriptor, FALSE};
    const DWORD error = CreateDirectoryW(wide_ptr(to_wide(path)), &security) ? 0 : GetLastError();
    LocalFree(descriptor);
    return error;
}

std::uint32_t rename_aside_on_disk(const std::string& from, const std::string& to) {
    return MoveFileExW(wide_ptr(to_wide(from)), wide_ptr(to_wide(to)), 0) ? 0 : GetLastError();
}

std::uint32_t replace_file_on_disk(const std::string& from, const std::string& to) {
    return MoveFileExW(wide_ptr(to_wide(from)), wide_ptr(to_wide(to)),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? 0
               : GetLastError();
}

std::uint32_t remove_file_on_disk(const std::string& path) {
    return DeleteFileW(wide_ptr(to_wide(path))) ? 0 : GetLastError();
}

LocalTime local_time_now() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

namespace {
class HeldProgram final : public ProgramFile {
public:
    explicit HeldProgram(HANDLE file) : file_(file) {}
    ~HeldProgram() override { CloseHandle(file_); }
    HeldProgram(const HeldProgram&) = delete;
    HeldProgram& operator=(const HeldProgram&) = delete;

    std::uint32_t copy_to(const std::string& to) override {
        FILETIME written;
        const LARGE_INTEGER start{};
        if (!GetFileTime(file_, nullptr, nullptr, &written) || !SetFilePointerEx(file_, start, nullptr, FILE_BEGIN))
            return GetLastError();
        const std::u16string target = to_wide(to);
        const HANDLE out =
            CreateFileW(wide_ptr(target), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (out == INVALID_HANDLE_VALUE) return GetLastError();
        DWORD error = copy_from(out);
        if (error == 0 && !SetFileTime(out, nullptr, nullptr, &written)) error = GetLastError();
        if (!CloseHandle(out) && error == 0) error = GetLastError();
        if (error) DeleteFileW(wide_ptr(target));
        return error;
    }

private:
    DWORD copy_from(HANDLE out) {
        char buffer[65536];
        for (;;) {
            DWORD got = 0, put = 0;
            if (!ReadFile(file_, buffer, sizeof buffer, &got, nullptr)) return GetLastError();
            if (got == 0) return 0;
            if (!WriteFile(out, buffer, got, &put, nullptr)) return GetLastError();
            if (put != got) return ERROR_WRITE_FAULT;
        }
    }

    HANDLE file_;
};

// The name the running image's file has now, in a form CreateFileW opens: on Windows a rename
// shows here, unlike in the name the process was started by. Empty when the system cannot tell.
std::wstring running_image_name() {
    std::wstring name(32768, L'\0');
    const DWORD length = GetMappedFileNameW(GetCurrentProcess(), GetModuleHandleW(nullptr), name.data(),
                                            static_cast<DWORD>(name.size()));
    name.resize(length);
    if (name.starts_with(L"\\??\\")) return L"\\\\?\\" + name.substr(4);
    return name.empty() ? name : L"\\\\?\\GLOBALROOT" + name;
}

const char* const PLACE_TAKEN = "otro fichero ha ocupado el lugar del programa";

// The file at the running image's name, shared for reading only: while it is open nobody may write,
// rename or delete it. Where the image's name follows a rename (Windows; Wine does not), the name
// unchanged after the open proves that the file opened is the image.
Result<HANDLE> open_image_file() {
    const std::wstring image = running_image_name();
    if (image.empty()) return fail(system_error_text(GetLastError()));
    const HANDLE file = CreateFileW(image.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return fail(system_error_text(GetLastError()));
    if (running_image_name() != image) {
        CloseHandle(file);
        return fail(PLACE_TAKEN);
    }
    return file;
}

// Which file a handle is open on: a rename keeps it, another file at the same name has another.
struct FileIdentity {
    DWORD volume = 0, index_high = 0, index_low = 0;
    bool operator==(const FileIdentity&) const = default;
};

Result<FileIdentity> identity_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    if (!GetFileInformationByHandle(file, &information)) return fail(system_error_text(GetLastError()));
    return FileIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
}

Result<FileIdentity> image_identity() {
    const Result<HANDLE> file = open_image_file();
    if (!file) return fail(file.error());
    Result<FileIdentity> identity = identity_of(file.value());
    CloseHandle(file.value());
    return identity;
}

// Taken as the process starts, before anyone could have put another file at the image's name.
const Result<FileIdentity> IMAGE_AT_START = image_identity();
}  // namespace

Result<std::unique_ptr<ProgramFile>> open_running_program_on_disk() {
    if (!IMAGE_AT_START) return fail(IMAGE_AT_START.error());
    const Result<HANDLE> file = open_image_file();
    if (!file) return fail(file.error());
    const Result<FileIdentity> held = identity_of(file.value());
    if (!held || !(held.value() == IMAGE_AT_START.value())) {
        CloseHandle(file.value());
        return fail(held ? PLACE_TAKEN : held.error());
    }
    return std::unique_ptr<ProgramFile>(std::make_unique<HeldProgram>(file.value()));
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
