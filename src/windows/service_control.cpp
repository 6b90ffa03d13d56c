#include "windows/service_control.h"

#include <thread>

#include "common/constants.h"
#include "windows/command_runner.h"

namespace korba {

namespace {
void real_pause(std::chrono::milliseconds duration) { std::this_thread::sleep_for(duration); }

PauseFunction pause_function = real_pause;

bool exits_with_zero(const std::string& program, const std::vector<CommandArg>& args) {
    const Result<CommandOutput> output = run_command(program, args);
    return output && output.value().exit_code == 0;
}
}  // namespace

const char* service_state_text(ServiceState state) {
    switch (state) {
        case ServiceState::Running:
            return "running";
        case ServiceState::Stopped:
            return "stopped";
        case ServiceState::Absent:
            break;
    }
    return "absent";
}

bool is_admin() { return exits_with_zero("net", {{"session"}}); }

bool service_installed() { return exits_with_zero("sc", {{"query"}, {SERVICE_NAME}}); }

ServiceState query_service() {
    const Result<CommandOutput> output = run_command("sc", {{"query"}, {SERVICE_NAME}});
    if (!output || output.value().exit_code != 0) return ServiceState::Absent;
    const bool running = decode_output(output.value().stdout_bytes).find("RUNNING") != std::string::npos;
    return running ? ServiceState::Running : ServiceState::Stopped;
}

Result<std::string> start_service() { return run_sc({"start", SERVICE_NAME}); }
Result<std::string> stop_service() { return run_sc({"stop", SERVICE_NAME}); }
Result<std::string> delete_service() { return run_sc({"delete", SERVICE_NAME}); }

bool wait_for_service(const std::function<bool(ServiceState)>& condition, int max_checks) {
    for (int check = 0; check < max_checks; ++check) {
        if (condition(query_service())) return true;
        pause_function(SERVICE_POLL_INTERVAL);
    }
    return false;
}

void set_service_pause(PauseFunction replacement) { pause_function = replacement ? replacement : real_pause; }

}  // namespace korba
