#include "app/console_start.h"

#include <gtest/gtest.h>

#include "fakes/fake_process_runner.h"

namespace korba {
namespace {

struct StatusCase {
    const char* name;
    Result<CommandOutput> sc_query;
    Result<CommandOutput> net_session;
    std::string expected;
};

TEST(ServiceStatusReport, ShowsStateAdminAnswerPathAndTheInstallHintOnlyWhenAbsent) {
    const std::string exe = "C:\\KORBA\\korba-vizoza.exe";
    const StatusCase cases[] = {
        {"running, admin", FakeProcessRunner::exited(0, "STATE : 4  RUNNING"), FakeProcessRunner::exited(0),
         "servicio: KORBAVizoza (running)\nadmin en esta consola: si\nexe: C:\\KORBA\\korba-vizoza.exe\n"},
        {"stopped, not admin", FakeProcessRunner::exited(0, "STATE : 1  STOPPED"), FakeProcessRunner::exited(2),
         "servicio: KORBAVizoza (stopped)\nadmin en esta consola: no\nexe: C:\\KORBA\\korba-vizoza.exe\n"},
        {"absent, net missing", FakeProcessRunner::exited(1060), fail("program not found"),
         "servicio: KORBAVizoza (absent)\nadmin en esta consola: no\nexe: C:\\KORBA\\korba-vizoza.exe\n"
         "Para instalarlo: korba-vizoza.exe --install  (como administrador)\n"},
        {"absent, admin", fail("program not found"), FakeProcessRunner::exited(0),
         "servicio: KORBAVizoza (absent)\nadmin en esta consola: si\nexe: C:\\KORBA\\korba-vizoza.exe\n"
         "Para instalarlo: korba-vizoza.exe --install  (como administrador)\n"},
    };
    for (const StatusCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProcessRunner runner;
        runner.will_return(c.sc_query);
        runner.will_return(c.net_session);
        EXPECT_EQ(service_status_report(exe), c.expected);
        EXPECT_EQ(runner.command_lines(), (std::vector<std::string>{"\"sc\" query KORBAVizoza", "\"net\" session"}));
    }
}

TEST(ServiceStatusReport, UnknownPathLeavesTheLineEmpty) {
    FakeProcessRunner runner;
    runner.will_return(FakeProcessRunner::exited(0, "RUNNING"));
    EXPECT_NE(service_status_report("").find("\nexe: \n"), std::string::npos);
}

TEST(InstalledServiceRunning, AsksForTheStateOnlyWhenInstalled) {
    {
        FakeProcessRunner runner;
        runner.will_return(FakeProcessRunner::exited(1060));
        EXPECT_FALSE(installed_service_running());
        EXPECT_EQ(runner.calls().size(), 1u);
    }
    {
        FakeProcessRunner runner;
        runner.will_return(FakeProcessRunner::exited(0, "STATE : 4  RUNNING"));
        runner.will_return(FakeProcessRunner::exited(0, "STATE : 4  RUNNING"));
        EXPECT_TRUE(installed_service_running());
        EXPECT_EQ(runner.calls().size(), 2u);
    }
    {
        FakeProcessRunner runner;
        runner.will_return(FakeProcessRunner::exited(0, "STATE : 4  RUNNING"));
        runner.will_return(FakeProcessRunner::exited(0, "STATE : 3  STOP_PENDING"));
        EXPECT_FALSE(installed_service_running());
    }
}

}  // namespace
}  // namespace korba
