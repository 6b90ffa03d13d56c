#include "windows/service_install.h"

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "common/system_error.h"
#include "fakes/fake_machine.h"
#include "windows/browser_policy.h"
#include "windows/install_dir.h"
#include "windows/win_command_line.h"

namespace korba {
namespace {

const std::string QUERY = "\"sc\" query KORBAVizoza";
const std::string DESCRIPTION_LINE =
    "\"sc\" description KORBAVizoza \"Vizoza de impresion local USB para KORBA (tickets ESC/POS y cajon "
    "portamonedas). Escucha en 127.0.0.1:9230.\"";
const std::string FAILURE_LINE =
    "\"sc\" failure KORBAVizoza reset= 86400 actions= restart/5000/restart/10000/restart/30000";
const std::string CHROME = "HKLM\\SOFTWARE\\Policies\\Google\\Chrome\\LoopbackNetworkAllowedForUrls";
const std::string EDGE = "HKLM\\SOFTWARE\\Policies\\Microsoft\\Edge\\LoopbackNetworkAllowedForUrls";

// What an install writes into browser policies that do not exist yet: each value, then its memory.
std::vector<std::string> fresh_policy_lines() {
    std::vector<std::string> lines;
    for (const PolicyList& list : POLICY_LISTS) {
        const std::string key = std::string("HKLM\\") + list.key;
        int number = 0;
        for (const std::string& pattern : list.entries()) {
            const std::string name = std::to_string(++number);
            lines.push_back("\"reg\" add " + key + " /v " + name + " /t REG_SZ /d " + pattern + " /f");
            lines.push_back("\"reg\" add HKLM\\SOFTWARE\\KORBA /v " + key.substr(5) + "\\" + name + " /t REG_SZ /d " +
                            pattern + " /f");
        }
    }
    return lines;
}

const std::string NEEDS_ADMIN =
    "Se necesitan permisos de administrador. Cierra y vuelve a ejecutar el instalador con «Ejecutar como "
    "administrador».";

TEST(ServiceInstall, CommandLineQuotesThePathAndWritesOnlyWhatDiffersFromTheDefaults) {
    const struct {
        const char* printer;
        std::uint16_t port;
        const char* expected;
        std::vector<PrinterEntry> aliases = {};
        std::string data_folder = "";
    } cases[] = {
        {"", 9230, R"("C:\KORBA\korba-vizoza.exe" --service --no-console)"},
        {"POS 80 Caja", 9230, R"("C:\KORBA\korba-vizoza.exe" --service --no-console --printer POS+80+Caja)"},
        {"", 9231, R"("C:\KORBA\korba-vizoza.exe" --service --no-console --port 9231)"},
        {" CAJA  BAR ", 0, R"("C:\KORBA\korba-vizoza.exe" --service --no-console --printer +CAJA++BAR+ --port 0)"},
        // Only a tab or a double quote still splits the name once the spaces are plus signs.
        {"Caja 1\t2", 9230, "\"C:\\KORBA\\korba-vizoza.exe\" --service --no-console --printer \"Caja+1\t2\""},
        {"Caja \"A\"\\", 9230, R"("C:\KORBA\korba-vizoza.exe" --service --no-console --printer Caja+\"A\"\)"},
        {"O'Brien POS", 9230, R"("C:\KORBA\korba-vizoza.exe" --service --no-console --printer O'Brien+POS)"},
        {"Caja\u2019 1", 9230, "\"C:\\KORBA\\korba-vizoza.exe\" --service --no-console --printer Caja\u2019+1"},
        // The aliases after --printer and before --port, in their order, quoted by the same rule.
        {"CAJA",
         9231,
         "\"C:\\KORBA\\korba-vizoza.exe\" --service --no-console --printer CAJA --printer-for cocina=COCINA+1 "
         "--printer-for \"barra=B\t\\\"1\\\"\" --port 9231",
         {{"cocina", "COCINA 1"}, {"barra", "B\t\"1\""}}},
        {"",
         9230,
         R"("C:\KORBA\korba-vizoza.exe" --service --no-console --printer-for bar=O'Brien+POS)",
         {{"bar", "O'Brien POS"}}},
        // --data last, kept as it was given: quoted when it holds spaces.
        {"CAJA",
         9231,
         R"("C:\KORBA\korba-vizoza.exe" --service --no-console --printer CAJA --port 9231 --data "D:\Tickets de caja\\")",
         {},
         "D:\\Tickets de caja\\"},
        {"", 9230, R"("C:\KORBA\korba-vizoza.exe" --service --no-console --data D:\T)", {}, "D:\\T"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.printer);
        const std::string line = service_command_line(INSTALL_EXE, c.printer, c.port, c.aliases, c.data_folder);
        EXPECT_EQ(line, c.expected);
        // What the service reads from the line the service manager starts it with.
        std::vector<std::string> args = split_command_line(line);
        args.erase(args.begin());
        const ScanResult scan = scan_command_line(args);
        EXPECT_EQ(scan.mode, RunMode::Service);
        EXPECT_EQ(scan.config.printer, c.printer);
        EXPECT_EQ(scan.config.port, c.port);
        EXPECT_EQ(scan.config.aliases, c.aliases);
        EXPECT_EQ(scan.config.data_folder.value_or(""), c.data_folder);
    }
}

TEST(ServiceInstall, C_KORBAIsSafeBeforeTheCopyAndTheCopyIsWholeBeforeTheService) {
    const std::string protection = INSTALL_DIR_PROTECTION;
    FakeMachine machine;
    machine.run_from_downloads();
    ASSERT_TRUE(install_service("", 9230));
    const std::vector<std::string> head(machine.log.begin(), machine.log.begin() + 7);
    EXPECT_EQ(head, (std::vector<std::string>{
                        "\"net\" session",
                        "inspect C:\\KORBA",
                        "create C:\\KORBA " + protection,
                        QUERY,
                        std::string("copy ") + FakeMachine::DOWNLOADED + " -> C:\\KORBA\\korba-vizoza.nuevo",
                        "replace C:\\KORBA\\korba-vizoza.nuevo -> C:\\KORBA\\korba-vizoza.exe",
                        QUERY,
                    }));
    EXPECT_TRUE(machine.log.at(7).starts_with("\"sc\" create KORBAVizoza ")) << machine.log.at(7);

    FakeMachine refused;
    refused.run_from_downloads();
    refused.install_folder_with(FakeMachine::PROTECTED);
    refused.protect_error = 5;
    const Result<std::string> installed = install_service("", 9230);
    ASSERT_FALSE(installed);
    EXPECT_EQ(installed.error(), "no puedo proteger C:\\KORBA para que solo los administradores puedan cambiarla (" +
                                     system_error_text(5) +
                                     "); el servicio no se instala en una carpeta que cualquier usuario puede cambiar.");
    EXPECT_EQ(refused.log.back(), "protect C:\\KORBA " + protection) << "nothing copied, no service";
}

TEST(ServiceInstall, ReplacingAServiceStopsDeletesAndCreatesItAgainInOrder) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);

    const Result<std::string> installed = install_service("POS 80 Caja", 9231);
    ASSERT_TRUE(installed) << installed.error();
    EXPECT_EQ(installed.value(), "Servicio instalado y en marcha (impresora: POS 80 Caja).");
    std::vector<std::string> expected{
            "\"net\" session",
            QUERY,
            QUERY,
            "\"sc\" stop KORBAVizoza",
            QUERY,
            "\"sc\" delete KORBAVizoza",
            R"("sc" create KORBAVizoza start= auto binPath= "\"C:\KORBA\korba-vizoza.exe\" --service --no-console --printer POS+80+Caja --port 9231" DisplayName= "KORBA Vizoza de impresion")",
            DESCRIPTION_LINE,
            FAILURE_LINE,
            "\"sc\" start KORBAVizoza",
            QUERY,
            QUERY,
    };
    for (const std::string& line : fresh_policy_lines()) expected.push_back(line);
    EXPECT_EQ(machine.commands(), expected);
    // What sc itself receives: the command line keeps the quotes around the program path.
    EXPECT_EQ(machine.service_args,
              (std::vector<std::string>{
                  "create", "KORBAVizoza", "start=", "auto",
                  "binPath=", R"("C:\KORBA\korba-vizoza.exe" --service --no-console --printer POS+80+Caja --port 9231)",
                  "DisplayName=", "KORBA Vizoza de impresion"}));
    EXPECT_EQ(machine.service, ServiceState::Running);
}

TEST(ServiceInstall, AFreshInstallWithTheDefaultPrinterSaysPredeterminada) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.files[INSTALL_EXE] = FakeMachine::THIS_BUILD;
    const Result<std::string> installed = install_service("", 9230);
    ASSERT_TRUE(installed) << installed.error();
    EXPECT_EQ(installed.value(), "Servicio instalado y en marcha (impresora: predeterminada).");
    EXPECT_EQ(machine.service_args.at(5), R"("C:\KORBA\korba-vizoza.exe" --service --no-console)");
    EXPECT_EQ(
        machine.commands().at(4),
        R"("sc" create KORBAVizoza start= auto binPath= "\"C:\KORBA\korba-vizoza.exe\" --service --no-console" DisplayName= "KORBA Vizoza de impresion")");
}

TEST(ServiceInstall, FromAnyOtherFolderTheServiceRunsTheCopyInC_KORBA) {
    for (const char* exe : {"D:\\Caja\\korba-vizoza.exe", "C:\\Mis programas\\korba-vizoza.exe", FakeMachine::DOWNLOADED}) {
        SCOPED_TRACE(exe);
        FakeMachine machine;
        machine.running_program_path = exe;
        machine.files[exe] = FakeMachine::THIS_BUILD;
        ASSERT_TRUE(install_service("", 9230));
        EXPECT_EQ(machine.service_args.at(5), R"("C:\KORBA\korba-vizoza.exe" --service --no-console)");
        EXPECT_EQ(machine.files[INSTALL_EXE], FakeMachine::THIS_BUILD);
    }
}

TEST(ServiceInstall, EachFailureHasItsMessage) {
    const struct {
        const char* name;
        void (*setup)(FakeMachine&);
        std::string expected;
        ServiceState left;
    } cases[] = {
        {"not an administrator", [](FakeMachine& m) { m.admin = false; }, NEEDS_ADMIN, ServiceState::Absent},
        {"folder not made", [](FakeMachine& m) { m.folder_error = 5; },
         "no puedo crear C:\\KORBA: " + system_error_text(5), ServiceState::Absent},
        {"copy fails", [](FakeMachine& m) { m.copy_errors = {32, 32}; },
         "no pude instalar C:\\KORBA\\korba-vizoza.exe (esta en uso por otro proceso: " + system_error_text(32) +
             "). Cierra cualquier ventana de KORBA Vizoza y vuelve a intentarlo, o reinicia el PC y ejecuta de nuevo "
             "el instalador.",
         ServiceState::Absent},
        {"sc missing", [](FakeMachine& m) { m.missing_programs.insert("sc"); },
         "sc create falló: no puedo ejecutar sc.exe: program not found", ServiceState::Absent},
        {"start refused",
         [](FakeMachine& m) {
             m.sc_failures["start"] = {1053, "[SC] StartService FAILED 1053:\r\n\r\nNo responde.\r\n", ""};
         },
         "servicio creado pero no arrancó: [SC] StartService FAILED 1053:\r\n\r\nNo responde.", ServiceState::Stopped},
        {"never running", [](FakeMachine& m) { m.service_ends_at_once = true; },
         "El servicio se instaló pero no llegó a arrancar. Revisa el Visor de eventos.", ServiceState::Stopped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        machine.run_from_downloads();
        machine.files[INSTALL_EXE] = FakeMachine::THIS_BUILD;
        c.setup(machine);
        const Result<std::string> installed = install_service("", 9230);
        ASSERT_FALSE(installed);
        EXPECT_EQ(installed.error(), c.expected);
        EXPECT_EQ(machine.service, c.left) << "a failure after the create leaves the service configured";
    }
}

TEST(ServiceInstall, NeverRunningIsCheckedTwentyFourTimesAndOnceMore) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.service_ends_at_once = true;
    ASSERT_FALSE(install_service("", 9230));
    const std::vector<std::string> lines = machine.commands();
    ASSERT_EQ(lines.size(), 7u + 25u);
    EXPECT_EQ(lines[6], "\"sc\" start KORBAVizoza");
    for (size_t i = 7; i < lines.size(); ++i) EXPECT_EQ(lines[i], QUERY);
}

TEST(ServiceInstall, TheBrowsersPoliciesGetOurPatternsOnceAndUninstallTakesExactlyThemAway) {
    using Values = std::map<std::string, std::string>;
    const std::vector<std::string> ours = app_origin_patterns();
    FakeMachine machine;
    machine.run_from_downloads();
    machine.registry[CHROME]["1"] = "https://admin.example";
    for (int install = 0; install < 2; ++install) {
        ASSERT_TRUE(install_service("", 9230));
        EXPECT_EQ(machine.registry[CHROME],
                  (Values{{"1", "https://admin.example"}, {"2", ours[0]}, {"3", ours[1]}, {"4", ours[2]}}));
        EXPECT_EQ(machine.registry[EDGE], (Values{{"1", ours[0]}, {"2", ours[1]}, {"3", ours[2]}}));
    }
    ASSERT_TRUE(uninstall_service());
    EXPECT_EQ(machine.registry, (std::map<std::string, Values>{{CHROME, {{"1", "https://admin.example"}}}}));
}

TEST(ServiceInstall, PoliciesThatCannotBeWrittenLeaveTheInstallAsItIs) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.missing_programs.insert("reg");
    const Result<std::string> installed = install_service("POS 80", 9230);
    ASSERT_TRUE(installed) << installed.error();
    EXPECT_EQ(installed.value(), "Servicio instalado y en marcha (impresora: POS 80).");
}

TEST(ServiceUninstall, StopsAndDeletes) {
    FakeMachine machine;
    machine.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);
    const Result<std::string> removed = uninstall_service();
    ASSERT_TRUE(removed);
    EXPECT_EQ(removed.value(), "Servicio detenido y eliminado.");
    EXPECT_EQ(machine.commands(), (std::vector<std::string>{"\"net\" session", QUERY, "\"sc\" stop KORBAVizoza", QUERY,
                                                            "\"sc\" delete KORBAVizoza"}));
    EXPECT_EQ(machine.service, ServiceState::Absent);
    EXPECT_TRUE(machine.files.contains(INSTALL_EXE)) << "the installed file stays";
}

TEST(ServiceUninstall, OutcomesWithoutADeletion) {
    FakeMachine absent;
    const Result<std::string> nothing = uninstall_service();
    ASSERT_TRUE(nothing);
    EXPECT_EQ(nothing.value(), "El servicio no estaba instalado.");

    FakeMachine not_admin;
    not_admin.admin = false;
    not_admin.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);
    const Result<std::string> refused = uninstall_service();
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), "Se necesitan permisos de administrador para desinstalar el servicio.");
    EXPECT_EQ(not_admin.commands(), std::vector<std::string>{"\"net\" session"});
}

TEST(ServiceUninstall, AFailedDeleteIsReported) {
    FakeMachine machine;
    machine.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);
    machine.sc_failures["delete"] = {1072, "[SC] DeleteService FAILED 1072:\r\n\r\nMarcado para eliminar.\r\n", ""};
    const Result<std::string> removed = uninstall_service();
    ASSERT_FALSE(removed);
    EXPECT_EQ(removed.error(), "sc delete falló: [SC] DeleteService FAILED 1072:\r\n\r\nMarcado para eliminar.");
}

}  // namespace
}  // namespace korba
