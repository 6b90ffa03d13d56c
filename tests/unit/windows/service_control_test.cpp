#include "windows/service_control.h"

#include <gtest/gtest.h>

#include "fakes/fake_process_runner.h"

namespace korba {
namespace {

using Output = FakeProcessRunner;

struct QueryCase {
    const char* name;
    Result<CommandOutput> sc_query;
    ServiceState expected;
};

TEST(ServiceControl, QueryReadsTheStateFromScQuery) {
    const QueryCase cases[] = {
        {"sc missing", fail("program not found"), ServiceState::Absent},
        {"no such service", Output::exited(1060, "[SC] OpenService FAILED 1060:"), ServiceState::Absent},
        {"running", Output::exited(0, "\r\nSERVICE_NAME: KORBAVizoza\r\n        STATE              : 4  RUNNING\r\n"),
         ServiceState::Running},
        {"start pending", Output::exited(0, "STATE              : 2  START_PENDING"), ServiceState::Stopped},
        {"stop pending", Output::exited(0, "STATE              : 3  STOP_PENDING"), ServiceState::Stopped},
        {"word elsewhere", Output::exited(0, "SERVICE_NAME: RUNNINGKORBA\r\nSTATE : 1  STOPPED"),
         ServiceState::Running},
        {"lower case", Output::exited(0, "state: running"), ServiceState::Stopped},
        {"invalid bytes", Output::exited(0, "\xFF RUNNING \xFE"), ServiceState::Running},
    };
    for (const QueryCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProcessRunner runner;
        runner.will_return(c.sc_query);
        EXPECT_EQ(query_service(), c.expected);
        EXPECT_EQ(runner.command_lines(), std::vector<std::string>{"\"sc\" query KORBAVizoza"});
    }
}

TEST(ServiceControl, StateTextsAreTheReportedOnes) {
    EXPECT_STREQ(service_state_text(ServiceState::Running), "running");
    EXPECT_STREQ(service_state_text(ServiceState::Stopped), "stopped");
    EXPECT_STREQ(service_state_text(ServiceState::Absent), "absent");
}

struct ProbeCase {
    const char* name;
    Result<CommandOutput> result;
    bool expected;
};

TEST(ServiceControl, AdminAndInstalledProbesReadOnlyTheExitCode) {
    const ProbeCase cases[] = {
        {"exit 0", Output::exited(0), true},
        {"exit 0 with noise", Output::exited(0, "", "access denied"), true},
        {"exit 2", Output::exited(2, "ok"), false},
        {"cannot start", fail("program not found"), false},
    };
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProcessRunner runner;
        runner.will_return(c.result);
        runner.will_return(c.result);
        EXPECT_EQ(is_admin(), c.expected);
        EXPECT_EQ(service_installed(), c.expected);
        EXPECT_EQ(runner.command_lines(), (std::vector<std::string>{"\"net\" session", "\"sc\" query KORBAVizoza"}));
    }
}

TEST(ServiceControl, StartStopDeleteRunScWithTheServiceName) {
    FakeProcessRunner runner;
    runner.will_return(Output::exited(0, "\r\nSERVICE_NAME: KORBAVizoza\r\n"));
    runner.will_return(
        Output::exited(1062, "[SC] ControlService FAILED 1062:\r\n\r\nThe service has not been started.\r\n"));
    runner.will_fail_to_start("program not found");

    const Result<std::string> started = start_service();
    ASSERT_TRUE(started);
    EXPECT_EQ(started.value(), "\r\nSERVICE_NAME: KORBAVizoza\r\n");
    const Result<std::string> stopped = stop_service();
    ASSERT_FALSE(stopped);
    EXPECT_EQ(stopped.error(), "[SC] ControlService FAILED 1062:\r\n\r\nThe service has not been started.");
    const Result<std::string> deleted = delete_service();
    ASSERT_FALSE(deleted);
    EXPECT_EQ(deleted.error(), "no puedo ejecutar sc.exe: program not found");
    EXPECT_EQ(runner.command_lines(), (std::vector<std::string>{"\"sc\" start KORBAVizoza", "\"sc\" stop KORBAVizoza",
                                                                "\"sc\" delete KORBAVizoza"}));
}

std::vector<std::chrono::milliseconds> pauses;
void record_pause(std::chrono::milliseconds duration) { pauses.push_back(duration); }

class ServiceWait : public testing::Test {
protected:
    void SetUp() override {
        pauses.clear();
        set_service_pause(record_pause);
    }
    void TearDown() override { set_service_pause(nullptr); }
    FakeProcessRunner runner;
};

TEST_F(ServiceWait, PausesAfterEveryFailedCheckAndGivesUpAfterN) {
    for (int i = 0; i < 20; ++i) runner.will_return(Output::exited(0, "STATE : 4  RUNNING"));
    EXPECT_FALSE(wait_for_service([](ServiceState s) { return s == ServiceState::Stopped; }, 20));
    EXPECT_EQ(runner.calls().size(), 20u);
    EXPECT_EQ(pauses, std::vector<std::chrono::milliseconds>(20, std::chrono::milliseconds(250)));
}

TEST_F(ServiceWait, StopsAtTheFirstCheckThatHolds) {
    runner.will_return(Output::exited(0, "STATE : 4  RUNNING"));
    runner.will_return(Output::exited(0, "STATE : 3  STOP_PENDING"));
    runner.will_return(Output::exited(1060));
    EXPECT_TRUE(wait_for_service([](ServiceState s) { return s != ServiceState::Running; }, 24));
    EXPECT_EQ(runner.calls().size(), 2u);
    EXPECT_EQ(pauses.size(), 1u);
}

}  // namespace
}  // namespace korba
