#include "windows/service_runtime.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "http/socket.h"

namespace korba {
namespace {

// Plays the service manager: the dispatcher runs service_main at once on the calling thread.
class FakeServiceManager : public ServiceManager {
public:
    FakeServiceManager() { set_service_manager(this); }
    ~FakeServiceManager() override { set_service_manager(nullptr); }

    Status run_dispatcher(const std::string& name, ServiceMainFunction service_main) override {
        dispatched_name = name;
        if (!started_by_manager) return fail("The service process could not connect to the service controller.");
        service_main();
        return success();
    }
    StatusHandle register_handler(const std::string& name, ControlHandlerFunction handler) override {
        registered_name = name;
        registered_handler = handler;
        return registration_succeeds ? 42 : 0;
    }
    void set_status(StatusHandle handle, const ServiceStatusReport& report) override {
        EXPECT_EQ(handle, 42u);
        reports.push_back(report);
        if (report.current_state == 4 && on_running) on_running();
    }
    void end_process(int exit_code) override { exit_codes.push_back(exit_code); }

    bool started_by_manager = true;
    bool registration_succeeds = true;
    std::string dispatched_name;
    std::string registered_name;
    ControlHandlerFunction registered_handler = nullptr;
    std::function<void()> on_running;
    std::vector<ServiceStatusReport> reports;
    std::vector<int> exit_codes;
};

// The seven fields in the system's order, written out so a wrong constant shows.
const ServiceStatusReport starting{0x10, 2, 5, 0, 0, 1, 5000};
const ServiceStatusReport stopped{0x10, 1, 5, 0, 0, 0, 0};
const ServiceStatusReport stopping{0x10, 3, 5, 0, 0, 1, 3000};

class ServiceRuntime : public testing::Test {
protected:
    void SetUp() override {
        init_sockets();
        const Result<NativeSocket> holder = open_loopback_listener(0, 1);
        ASSERT_TRUE(holder);
        taken_port_holder = holder.value();
        taken_port = local_port(taken_port_holder);
    }
    void TearDown() override {
        if (taken_port_holder) close_socket(taken_port_holder);
    }

    // A service whose port is already held: its main routine reports and returns.
    int run_on_taken_port() { return run_as_service("POS 80", taken_port); }

    FakeServiceManager manager;
    NativeSocket taken_port_holder = 0;
    std::uint16_t taken_port = 0;
};

TEST_F(ServiceRuntime, NotStartedByTheManagerGives1063WithoutRunningTheService) {
    manager.started_by_manager = false;
    EXPECT_EQ(run_on_taken_port(), 1063);
    EXPECT_EQ(manager.dispatched_name, "KORBAVizoza");
    EXPECT_TRUE(manager.registered_name.empty());
    EXPECT_TRUE(manager.reports.empty());
}

TEST_F(ServiceRuntime, PortTakenReportsStartPendingThenStoppedAndEndsWithZero) {
    EXPECT_EQ(run_on_taken_port(), 0);
    EXPECT_EQ(manager.registered_name, "KORBAVizoza");
    EXPECT_EQ(manager.registered_handler, &service_control_handler);
    EXPECT_EQ(manager.reports, (std::vector<ServiceStatusReport>{starting, stopped}));
    EXPECT_TRUE(manager.exit_codes.empty());
}

struct LeaveServiceMain {};

TEST_F(ServiceRuntime, RunningIsReportedOnlyOnceThePortIsBound) {
    close_socket(taken_port_holder);
    taken_port_holder = 0;
    bool port_was_bound = false;
    manager.on_running = [&] {
        const Result<NativeSocket> second = open_loopback_listener(taken_port, 1);
        port_was_bound = !second;
        if (second) close_socket(second.value());
        throw LeaveServiceMain{};  // instead of serving for ever; its listener stays open until the tests end
    };
    EXPECT_THROW(run_as_service("POS 80", taken_port), LeaveServiceMain);
    EXPECT_TRUE(port_was_bound);
    const ServiceStatusReport running{0x10, 4, 5, 0, 0, 0, 0};
    EXPECT_EQ(manager.reports, (std::vector<ServiceStatusReport>{starting, running}));
}

TEST_F(ServiceRuntime, FailedRegistrationReportsNothing) {
    manager.registration_succeeds = false;
    EXPECT_EQ(run_on_taken_port(), 0);
    EXPECT_TRUE(manager.reports.empty());
}

TEST_F(ServiceRuntime, StopAndShutdownReportStopPendingAndEndTheProcessWithZero) {
    for (std::uint32_t control : {1u, 5u}) {
        SCOPED_TRACE(control);
        ASSERT_EQ(run_on_taken_port(), 0);
        manager.reports.clear();
        manager.exit_codes.clear();
        service_control_handler(control);
        EXPECT_EQ(manager.reports, std::vector<ServiceStatusReport>{stopping});
        EXPECT_EQ(manager.exit_codes, std::vector<int>{0});
    }
}

TEST_F(ServiceRuntime, OtherControlsChangeNothing) {
    ASSERT_EQ(run_on_taken_port(), 0);
    manager.reports.clear();
    for (std::uint32_t control : {2u, 3u, 4u, 0u, 0xFFFFFFFFu}) service_control_handler(control);
    EXPECT_TRUE(manager.reports.empty());
    EXPECT_TRUE(manager.exit_codes.empty());
}

}  // namespace
}  // namespace korba
