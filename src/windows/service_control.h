// Controlling our own service from outside through sc, and the administrator probe through net.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "common/result.h"

namespace korba {

enum class ServiceState { Running, Stopped, Absent };

// "running", "stopped" or "absent", as the status report shows them.
const char* service_state_text(ServiceState state);

inline constexpr std::chrono::milliseconds SERVICE_POLL_INTERVAL{250};
inline constexpr int STOP_WAIT_CHECKS = 20;
inline constexpr int START_WAIT_CHECKS = 24;

bool is_admin();
bool service_installed();
ServiceState query_service();
// sc's output on success; sc's message (or why it could not run) otherwise. None of them waits.
Result<std::string> start_service();
Result<std::string> stop_service();
Result<std::string> delete_service();

// Checks up to `max_checks` times, pausing after every unsuccessful check; true once the condition holds.
bool wait_for_service(const std::function<bool(ServiceState)>& condition, int max_checks);

// The pause between checks; tests replace it so that waiting costs nothing. nullptr restores the real sleep.
using PauseFunction = void (*)(std::chrono::milliseconds);
void set_service_pause(PauseFunction replacement);

}  // namespace korba
