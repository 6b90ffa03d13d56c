// The Win32 file layer against the real system: the running program's file and what a folder's
// security descriptor is read as.
#include "windows/file_system_win32.h"

#include <gtest/gtest.h>
#include <sddl.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "common/text.h"
#include "windows/autostart.h"
#include "windows/file_system.h"

namespace korba {
namespace {

std::string contents(const std::string& path) {
    std::ifstream file(std::filesystem::path(to_wide(path)), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

bool move(const std::string& from, const std::string& to) {
    return MoveFileExW(reinterpret_cast<const wchar_t*>(to_wide(from).c_str()),
                       reinterpret_cast<const wchar_t*>(to_wide(to).c_str()), 0);
}

// This test program's own file renamed aside and another file put at its name, as a user may do
// with a downloaded program while it runs; both put back at the end.
class ProgramSwapped {
public:
    explicit ProgramSwapped(const std::string& exe) : exe_(exe), aside_(exe + ".aparte") {
        moved_ = move(exe_, aside_);
        std::ofstream(std::filesystem::path(to_wide(exe_)), std::ios::binary) << "otro programa";
    }
    ~ProgramSwapped() {
        DeleteFileW(reinterpret_cast<const wchar_t*>(to_wide(exe_).c_str()));
        if (moved_) move(aside_, exe_);
    }
    bool moved() const { return moved_; }

private:
    std::string exe_, aside_;
    bool moved_ = false;
};

TEST(FileSystemWin32, OnlyTheRunningProgramItselfIsCopied) {
    const std::string exe = current_exe_path();
    const std::string copy = exe + ".copia";
    {
        Result<std::unique_ptr<ProgramFile>> program = open_running_program_on_disk();
        ASSERT_TRUE(program) << program.error();
        EXPECT_EQ(program.value()->copy_to(copy), 0u);
    }
    EXPECT_EQ(contents(copy), contents(exe));
    DeleteFileW(reinterpret_cast<const wchar_t*>(to_wide(copy).c_str()));

    const ProgramSwapped swapped(exe);
    ASSERT_TRUE(swapped.moved());
    const Result<std::unique_ptr<ProgramFile>> other = open_running_program_on_disk();
    ASSERT_FALSE(other);
    EXPECT_EQ(other.error(), "otro fichero ha ocupado el lugar del programa");
}

TEST(FileSystemWin32, AFolderWithoutAnAccessListIsNeverTrusted) {
    PSID administrators = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(L"BA", &administrators));
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorOwner(&descriptor, administrators, FALSE);
    SetSecurityDescriptorControl(&descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    EXPECT_FALSE(trusted_folder({true, true, false, security_text(&descriptor)})) << "no list";
    SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE);
    EXPECT_FALSE(trusted_folder({true, true, false, security_text(&descriptor)})) << "a NULL list";
    LocalFree(administrators);
}

}  // namespace
}  // namespace korba
