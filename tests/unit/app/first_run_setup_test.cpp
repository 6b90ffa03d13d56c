#include "app/first_run_setup.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "fakes/fake_machine.h"
#include "windows/install_dir.h"

namespace korba {
namespace {

const std::string INSTALLED = "Servicio instalado y en marcha (impresora: POS 80).";
const std::string START_FAILED = "servicio creado pero no arrancó: [SC] StartService FAILED 1053:";

void start_fails(FakeMachine& m) { m.sc_failures["start"] = {1053, "[SC] StartService FAILED 1053:\r\n", ""}; }
void installed_copy_itself(FakeMachine& m) {
    m.install_folder_with(FakeMachine::PROTECTED);
    m.running_program_path = INSTALL_EXE;
    m.files[INSTALL_EXE] = FakeMachine::THIS_BUILD;
}
void prompt_ends(FakeMachine& m, std::uint32_t code, const char* err = "") {
    m.prompt_result = CommandOutput{code, "", err};
}

struct Row {
    const char* name;
    void (*setup)(FakeMachine&);
    bool ok;
    std::string text;
    bool autostart_on;
};

TEST(FirstRunSetup, EveryOutcome) {
    const Row rows[] = {
        {"same build already running as service",
         [](FakeMachine& m) { m.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD); }, true,
         "El servicio ya estaba instalado y en marcha (misma version).", false},
        {"copy fails",
         [](FakeMachine& m) {
             m.copy_errors = {32, 32};
         },
         false, "no pude instalar C:\\KORBA\\korba-vizoza.exe (esta en uso por otro proceso: ", true},
        {"nothing copied, administrator, installed", installed_copy_itself, true, INSTALLED, false},
        {"same build stopped as service, administrator, installed",
         [](FakeMachine& m) { m.install_earlier(ServiceState::Stopped, FakeMachine::THIS_BUILD); }, true, INSTALLED,
         false},
        {"nothing copied, administrator, install fails",
         [](FakeMachine& m) {
             installed_copy_itself(m);
             start_fails(m);
         },
         false, START_FAILED + " \u2014 activado el arranque con Windows (modo simple)", true},
        {"nothing copied, no rights",
         [](FakeMachine& m) {
             installed_copy_itself(m);
             m.admin = false;
         },
         true,
         "Sin permisos de administrador: activado el arranque con Windows (modo simple). Para el servicio completo, "
         "ejecuta como administrador.",
         true},
        {"copied, administrator, installed", [](FakeMachine&) {}, true, INSTALLED, false},
        {"update as administrator: the install message",
         [](FakeMachine& m) { m.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD); }, true, INSTALLED,
         false},
        {"copied, administrator, install fails", start_fails, false,
         START_FAILED + " \u2014 probando arranque con Windows", true},
        {"copied, no rights, elevated install done",
         [](FakeMachine& m) {
             m.admin = false;
             prompt_ends(m, 0);
         },
         true, "Instalado como servicio en C:\\KORBA (arranca con Windows).", false},
        {"update, no rights, elevated install done",
         [](FakeMachine& m) {
             m.install_earlier(ServiceState::Running, FakeMachine::OTHER_BUILD);
             m.admin = false;
             prompt_ends(m, 0);
         },
         true, "Actualizado a v1.5.0 como servicio en C:\\KORBA (arranca con Windows).", false},
        {"update of a stopped service, elevated install done",
         [](FakeMachine& m) {
             m.install_earlier(ServiceState::Stopped, FakeMachine::OTHER_BUILD);
             m.admin = false;
             prompt_ends(m, 0);
         },
         true, "Actualizado a v1.5.0 como servicio en C:\\KORBA (arranca con Windows).", false},
        {"elevation refused",
         [](FakeMachine& m) {
             m.admin = false;
             prompt_ends(m, 1223);
         },
         true, "Sin permisos de administrador: activado el arranque con Windows (modo simple).", true},
        {"elevated install failed",
         [](FakeMachine& m) {
             m.admin = false;
             prompt_ends(m, 1, "\r\n");
         },
         false, "el relanzamiento con permisos falló (código 1): ", false},
        {"no powershell",
         [](FakeMachine& m) {
             m.admin = false;
             m.missing_programs.insert("powershell");
         },
         false, "no puedo relanzar con permisos: program not found", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FakeMachine machine;
        machine.run_from_downloads();
        row.setup(machine);
        const SetupOutcome outcome = setup_outcome("POS 80", 9230);
        EXPECT_EQ(outcome.ok, row.ok);
        if (row.name == std::string("copy fails")) {
            EXPECT_TRUE(outcome.text.starts_with(row.text)) << outcome.text;
            EXPECT_TRUE(outcome.text.ends_with(". \u2014 probando arranque con Windows sin permisos")) << outcome.text;
        } else {
            EXPECT_EQ(outcome.text, row.text);
        }
        EXPECT_EQ(machine.run_value().has_value(), row.autostart_on);
    }
}

TEST(FirstRunSetup, UpToDateTouchesNothing) {
    FakeMachine machine;
    machine.run_from_downloads();
    machine.install_earlier(ServiceState::Running, FakeMachine::THIS_BUILD);
    (void)setup_outcome("", 9230);
    EXPECT_EQ(machine.log, (std::vector<std::string>{"\"sc\" query KORBAVizoza", "\"sc\" query KORBAVizoza"}));
}

TEST(FirstRunSetup, AnOrdinaryUserRelaunchesTheRunningProgramAndWritesNothing) {
    for (const std::uint32_t answer : {0u, 1223u}) {
        SCOPED_TRACE(answer);
        FakeMachine machine;
        machine.run_from_downloads();
        machine.admin = false;
        prompt_ends(machine, answer);
        (void)setup_outcome("POS 80", 9231);
        const std::vector<std::string> lines = machine.commands();
        const auto relaunch = std::find_if(lines.begin(), lines.end(),
                                           [](const std::string& line) { return line.starts_with("\"powershell\""); });
        ASSERT_NE(relaunch, lines.end());
        EXPECT_NE(relaunch->find(std::string("-FilePath '") + FakeMachine::DOWNLOADED +
                                 "' -ArgumentList @('--printer','\\\"POS 80\\\"','--port','9231','--install')"),
                  std::string::npos)
            << *relaunch;
        for (const std::string& entry : machine.log)
            EXPECT_TRUE(entry.starts_with('"')) << "touched the disk: " << entry;
        EXPECT_FALSE(machine.install_folder.exists);
        EXPECT_EQ(machine.run_value().has_value(), answer == 1223) << "modo simple only when refused";
    }
}

TEST(FirstRunSetup, OutcomeLines) {
    EXPECT_EQ(outcome_line({true, "listo"}), "  \u2714 listo");
    EXPECT_EQ(outcome_line({false, "mal"}), "  \u26A0 mal");
}

TEST(FirstRunSetup, WhenTheSetupRuns) {
    const struct {
        const char* name;
        bool skip, force, preview;
        ServiceState service;
        bool from_install_dir;
        bool expected;
    } cases[] = {
        {"fresh download", false, false, false, ServiceState::Absent, false, true},
        {"service installed", false, false, false, ServiceState::Stopped, false, false},
        {"installed copy", false, false, false, ServiceState::Absent, true, false},
        {"forced", false, true, false, ServiceState::Running, true, true},
        {"skipped", true, false, false, ServiceState::Absent, false, false},
        {"skip wins over force", true, true, false, ServiceState::Absent, false, false},
        {"a preview run, even forced", false, true, true, ServiceState::Absent, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine;
        machine.running_program_path = c.from_install_dir ? "C:\\korba\\korba-vizoza.exe" : FakeMachine::DOWNLOADED;
        machine.service = c.service;
        Config config;
        config.skip_setup = c.skip;
        config.force_setup = c.force;
        config.preview = c.preview;
        EXPECT_EQ(setup_wanted(config), c.expected);
    }
}

}  // namespace
}  // namespace korba
