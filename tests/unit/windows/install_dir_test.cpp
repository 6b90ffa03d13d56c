#include "windows/install_dir.h"

#include <gtest/gtest.h>

#include "common/system_error.h"
#include "fakes/fake_machine.h"

namespace korba {
namespace {

const std::string COPY = std::string("copy ") + FakeMachine::DOWNLOADED + " -> C:\\KORBA\\korba-vizoza.nuevo";
const std::string REPLACE = "replace C:\\KORBA\\korba-vizoza.nuevo -> C:\\KORBA\\korba-vizoza.exe";
const std::string PROBE = "probe C:\\KORBA\\korba-vizoza.exe";
const std::string QUERY = "\"sc\" query KORBAVizoza";
const std::string INSPECT = "inspect C:\\KORBA";
const std::string CREATE = std::string("create C:\\KORBA ") + INSTALL_DIR_PROTECTION;
const std::string PROTECT = std::string("protect C:\\KORBA ") + INSTALL_DIR_PROTECTION;
const std::string ASIDE = "C:\\KORBA.viejo-20260304-050607";
const std::string SET_ASIDE = "rename C:\\KORBA -> " + ASIDE;

std::vector<std::string> joined(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const std::vector<std::string>& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

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

TEST(InstallDir, TheInstalledCopyOnlyProtectsItsTrustedFolderAgainAndNeverVouchesForAnUntrustedOne) {
    FakeMachine machine;
    machine.running_program_path = "c:\\korba\\korba-vizoza.exe";
    machine.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD);
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::AlreadyInPlace);
    EXPECT_EQ(machine.log, (std::vector<std::string>{INSPECT, PROTECT}));

    FakeMachine untrusted;
    untrusted.running_program_path = "c:\\korba\\korba-vizoza.exe";
    untrusted.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD);
    untrusted.install_folder_with(FakeMachine::USERS_OWN);
    const Result<CopyOutcome> refused = copy_to_install_dir();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(),
              "C:\\KORBA no es segura y no se puede apartar (este programa se ejecuta desde ella); "
              "cierra los programas que la usen y vuelve a intentarlo");
    EXPECT_EQ(untrusted.log, std::vector<std::string>{INSPECT});
    EXPECT_EQ(untrusted.service, ServiceState::Running);
}

TEST(InstallDir, EachKindOfExistingFolderIsKeptOrSetAsideBeforeAnythingGoesIn) {
    const std::vector<std::string> copied{QUERY, COPY, REPLACE};
    const std::vector<std::string> set_aside = {INSPECT, QUERY, SET_ASIDE, CREATE};
    const struct {
        const char* name;
        bool exists, folder, reparse_point;
        const char* security;
        std::vector<std::string> log;
    } cases[] = {
        {"missing: created with its protection in one call", false, false, false, "",
         joined({{INSPECT, CREATE}, copied})},
        {"made by this program: kept and protected again", true, true, false, FakeMachine::PROTECTED,
         joined({{INSPECT, PROTECT, QUERY}, copied})},
        {"owned by a user", true, true, false, FakeMachine::USERS_OWN, joined({set_aside, copied})},
        {"a junction, whatever it reports", true, true, true, FakeMachine::PROTECTED, joined({set_aside, copied})},
        {"a file of that name", true, false, false, FakeMachine::PROTECTED, joined({set_aside, copied})},
        {"security unreadable", true, true, false, "", joined({set_aside, copied})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        machine.run_from_downloads();
        machine.install_folder = {c.exists, c.folder, c.reparse_point, c.security};
        if (c.folder) machine.files[INSTALL_EXE] = FakeMachine::OTHER_BUILD;
        const Result<CopyOutcome> copy = copy_to_install_dir();
        ASSERT_TRUE(copy) << copy.error();
        EXPECT_EQ(copy.value(), CopyOutcome::Copied);
        EXPECT_EQ(machine.log, c.log);
        EXPECT_EQ(machine.files[INSTALL_EXE], FakeMachine::THIS_BUILD);
        EXPECT_FALSE(machine.files.contains(INSTALL_EXE_INCOMING));
        if (c.log[2] == SET_ASIDE && c.folder) {
            EXPECT_EQ(machine.files[ASIDE + "\\korba-vizoza.exe"], FakeMachine::OTHER_BUILD) << "nothing deleted";
        }
    }
}

TEST(InstallDir, SettingAsideStopsTheServiceFirstTakesTheNextFreeNameOrStopsTheInstall) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);
    machine.install_folder_with(FakeMachine::USERS_OWN);
    machine.taken_names = {ASIDE, ASIDE + "-2"};
    ASSERT_TRUE(copy_to_install_dir());
    EXPECT_EQ(machine.log,
              joined({{INSPECT, QUERY, "\"sc\" stop KORBAVizoza", QUERY, "\"sc\" delete KORBAVizoza", PROBE, SET_ASIDE,
                       SET_ASIDE + "-2", SET_ASIDE + "-3", CREATE, QUERY, COPY, REPLACE}}));

    FakeMachine held;
    held.run_from_downloads();
    held.install_folder_with(FakeMachine::USERS_OWN);
    held.rename_error = 32;
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_FALSE(copy);
    EXPECT_EQ(copy.error(), "C:\\KORBA no es segura y no se puede apartar (" + system_error_text(32) +
                                "); cierra los programas que la usen y vuelve a intentarlo");
    EXPECT_EQ(held.log, (std::vector<std::string>{INSPECT, QUERY, SET_ASIDE}));
}

TEST(InstallDir, SetAsideNamesCarryTheLocalTime) {
    EXPECT_EQ(set_aside_name({2026, 12, 31, 23, 59, 58}, 1), "C:\\KORBA.viejo-20261231-235958");
    EXPECT_EQ(set_aside_name({2027, 1, 2, 3, 4, 5}, 12), "C:\\KORBA.viejo-20270102-030405-12");
}

TEST(InstallDir, TheSameBuildRunningAsServiceIsLeftAlone) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::AlreadyInPlace);
    EXPECT_EQ(machine.log, (std::vector<std::string>{INSPECT, PROTECT, QUERY}));
    EXPECT_EQ(machine.service, ServiceState::Running);
}

TEST(InstallDir, TheSameBuildWithoutServiceIsCopiedAgain) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_folder_with(FakeMachine::PROTECTED);
    machine.files[INSTALL_EXE] = FakeMachine::THIS_BUILD;
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::Copied);
    EXPECT_EQ(machine.log, (std::vector<std::string>{INSPECT, PROTECT, QUERY, QUERY, COPY, REPLACE}));
}

TEST(InstallDir, AnotherBuildIsFreedFromItsServiceBeforeTheCopy) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD);
    machine.busy_probes = 2;
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy.value(), CopyOutcome::Copied);
    EXPECT_EQ(machine.log, (std::vector<std::string>{INSPECT, PROTECT, QUERY, QUERY, "\"sc\" stop KORBAVizoza", QUERY,
                                                     "\"sc\" delete KORBAVizoza", PROBE, "pause 250 ms", PROBE,
                                                     "pause 250 ms", PROBE, COPY, REPLACE}));
    EXPECT_EQ(machine.service, ServiceState::Absent) << "the caller installs it again";
    EXPECT_EQ(machine.files[INSTALL_EXE], FakeMachine::THIS_BUILD);
}

TEST(InstallDir, AFileThatStaysBusyIsProbedEightTimesThenCopiedAnyway) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Stopped, FakeMachine::OTHER_BUILD);
    machine.busy_probes = 100;
    ASSERT_TRUE(copy_to_install_dir());
    std::vector<std::string> expected{
        INSPECT, PROTECT, QUERY, QUERY, "\"sc\" stop KORBAVizoza", QUERY, "\"sc\" delete KORBAVizoza"};
    for (int i = 0; i < 8; ++i) expected.insert(expected.end(), {PROBE, "pause 250 ms"});
    expected.insert(expected.end(), {COPY, REPLACE});
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
        machine.install_folder_with(FakeMachine::PROTECTED);
        machine.files[INSTALL_EXE] = FakeMachine::OTHER_BUILD;
        machine.replace_errors = {c.first, c.second};
        const Result<CopyOutcome> copy = copy_to_install_dir();
        ASSERT_FALSE(copy);
        EXPECT_EQ(copy.error(), "no pude instalar C:\\KORBA\\korba-vizoza.exe (esta en uso por otro proceso: " +
                                    system_error_text(c.shown) +
                                    "). Cierra cualquier ventana de KORBA Vizoza y vuelve a intentarlo, o reinicia el "
                                    "PC y ejecuta de nuevo el instalador.");
        EXPECT_EQ(machine.log, (std::vector<std::string>{INSPECT, PROTECT, QUERY, QUERY, COPY, REPLACE, "pause 1000 ms",
                                                         COPY, REPLACE, "remove C:\\KORBA\\korba-vizoza.nuevo"}));
        EXPECT_EQ(machine.files[INSTALL_EXE], FakeMachine::OTHER_BUILD) << "never half a program";
        EXPECT_FALSE(machine.files.contains(INSTALL_EXE_INCOMING));
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
    EXPECT_EQ(machine.log, (std::vector<std::string>{INSPECT, CREATE}));
}

TEST(InstallDir, AProgramFileThatCannotBeHeldAsTheRunningOneStopsEverythingFirst) {
    // Another file put under the program's name, over an earlier install with its service running.
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD);
    machine.program_not_held = "otro fichero ha ocupado el lugar del programa";
    const Result<CopyOutcome> copy = copy_to_install_dir();
    ASSERT_FALSE(copy);
    EXPECT_EQ(copy.error(), "no puedo leer este mismo programa para copiarlo (otro fichero ha ocupado el lugar del "
                            "programa); no se ha instalado nada. Vuelve a descargarlo y ejecutalo de nuevo.");
    EXPECT_EQ(machine.log, std::vector<std::string>{}) << "nothing inspected, stopped or copied";
    EXPECT_EQ(machine.service, ServiceState::Running);
    EXPECT_EQ(machine.files[INSTALL_EXE], FakeMachine::OTHER_BUILD);
}

}  // namespace
}  // namespace korba
