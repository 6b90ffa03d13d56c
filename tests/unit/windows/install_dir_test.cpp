#include "windows/install_dir.h"

#include <gtest/gtest.h>

#include "common/system_error.h"
#include "fakes/fake_machine.h"

namespace korba {
namespace {

const std::string COPY = std::string("copy ") + FakeMachine::DOWNLOADED + " -> C:\\KORBA\\korba-vizoza.exe";
const std::string PROBE = "probe C:\\KORBA\\korba-vizoza.exe";
const std::string QUERY = "\"sc\" query KORBAVizoza";

TEST(InstallDir, RunningFromInstallDirIgnoresOnlyLetterCase) {
    const struct {
        const char* path;
        bool expected;
    } cases[] = {
        {"C:\\KORBA\\korba-vizoza.exe", true},
        {"c:\\korba\\KORBA-VIZOZA.EXE", true},
        {"C:\\\u212AORBA\\korba-vizoza.exe", true},  // Kelvin sign lower-cases to k
        {"\\\\?\\C:\\KORBA\\korba-vizoza.exe", false},
        {"C:\\KORBA\\KORBA-~1.EXE", false},
        {"D:\\KORBA\\korba-vizoza.exe", false},
        {"C:\\KORBA\\korba-vizoza.exe.old", false},
        {FakeMachine::DOWNLOADED, false},
        {"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        FakeMachine machine;
        machine.running_program_path = c.path;
        EXPECT_EQ(running_from_install_dir(), c.expected);
    }
}

TEST(InstallDir, InstalledCopyMatchesBySizeAndLastWriteTime) {
    const struct {
        const char* name;
        std::optional<FileFacts> installed;
        bool expected;
    } cases[] = {
        {"same facts", FakeMachine::THIS_BUILD, true},
        {"other size", FileFacts{FakeMachine::THIS_BUILD.size + 1, FakeMachine::THIS_BUILD.last_write}, false},
        {"other time", FileFacts{FakeMachine::THIS_BUILD.size, FakeMachine::THIS_BUILD.last_write + 1}, false},
        {"not installed", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        machine.run_from_downloads();
        if (c.installed) machine.files[INSTALL_EXE] = *c.installed;
        EXPECT_EQ(installed_copy_matches(), c.expected);
    }
    FakeMachine unknown_path;
    unknown_path.files[""] = unknown_path.files[INSTALL_EXE] = FakeMachine::THIS_BUILD;
    EXPECT_FALSE(installed_copy_matches()) << "the running program's path is not available";
}

TEST(InstallDir, NothingHappensWhenRunningTheInstalledCopy) {
    FakeMachine machine;
    machine.running_program_path = "c:\\korba\\korba-vizoza.exe";
    machine.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD);
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::AlreadyInPlace);
    EXPECT_TRUE(machine.log.empty());
}

TEST(InstallDir, TheSameBuildRunningAsServiceIsLeftAlone) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::AlreadyInPlace);
    EXPECT_EQ(machine.log, (std::vector<std::string>{"mkdir C:\\KORBA", QUERY}));
    EXPECT_EQ(machine.service, ServiceState::Running);
}

TEST(InstallDir, TheSameBuildWithoutServiceIsCopiedAgain) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.files[INSTALL_EXE] = FakeMachine::THIS_BUILD;
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::Copied);
    EXPECT_EQ(machine.log, (std::vector<std::string>{"mkdir C:\\KORBA", QUERY, QUERY, COPY}));
}

TEST(InstallDir, AnotherBuildIsFreedFromItsServiceBeforeTheCopy) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD);
    machine.busy_probes = 2;
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::Copied);
    EXPECT_EQ(machine.log, (std::vector<std::string>{"mkdir C:\\KORBA", QUERY, QUERY, "\"sc\" stop KORBAVizoza", QUERY,
                                                     "\"sc\" delete KORBAVizoza", PROBE, "pause 250 ms", PROBE,
                                                     "pause 250 ms", PROBE, COPY}));
    EXPECT_EQ(machine.service, ServiceState::Absent) << "the caller installs it again";
    EXPECT_EQ(machine.files[INSTALL_EXE], FakeMachine::THIS_BUILD);
}

TEST(InstallDir, AFileThatStaysBusyIsProbedEightTimesThenCopiedAnyway) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Stopped, FakeMachine::OTHER_BUILD);
    machine.busy_probes = 100;
    ASSERT_TRUE(copy_to_install_dir());
    std::vector<std::string> expected{"mkdir C:\\KORBA",         QUERY, QUERY,
                                      "\"sc\" stop KORBAVizoza", QUERY, "\"sc\" delete KORBAVizoza"};
    for (int i = 0; i < 8; ++i) expected.insert(expected.end(), {PROBE, "pause 250 ms"});
    expected.push_back(COPY);
    EXPECT_EQ(machine.log, expected);
}

TEST(InstallDir, ALockedFileIsTriedTwiceAndTheMessageNamesTheRightError) {
    const struct {
        const char* name;
        std::uint32_t first, second, shown;
    } cases[] = {
        {"both busy: the first error", 32, 33, 32},
        {"second access denied", 32, ACCESS_DENIED_ERROR, ACCESS_DENIED_ERROR},
        {"first access denied only", ACCESS_DENIED_ERROR, 32, ACCESS_DENIED_ERROR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        machine.run_from_downloads();
        machine.copy_errors = {c.first, c.second};
        const Result<CopyOutcome> copy = copy_to_install_dir();
        ASSERT_FALSE(copy);
        EXPECT_EQ(copy.error(), "no pude instalar C:\\KORBA\\korba-vizoza.exe (esta en uso por otro proceso: " +
                                    system_error_text(c.shown) +
                                    "). Cierra cualquier ventana de KORBA Vizoza y vuelve a intentarlo, o reinicia el "
                                    "PC y ejecuta de nuevo el instalador.");
        EXPECT_EQ(machine.log, (std::vector<std::string>{"mkdir C:\\KORBA", QUERY, COPY, "pause 1000 ms", COPY}));
    }
}

TEST(InstallDir, TheSecondCopySucceedsAfterTheFirstFailed) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.copy_errors = {32};
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::Copied);
    EXPECT_EQ(machine.files[INSTALL_EXE], FakeMachine::THIS_BUILD);
}

TEST(InstallDir, AFolderThatCannotBeCreatedStopsEverything) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.folder_error = ACCESS_DENIED_ERROR;
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_FALSE(copy);
    EXPECT_EQ(copy.error(), "no puedo crear C:\\KORBA: " + system_error_text(ACCESS_DENIED_ERROR));
    EXPECT_EQ(machine.log, std::vector<std::string>{"mkdir C:\\KORBA"});
}

}  // namespace
}  // namespace korba
