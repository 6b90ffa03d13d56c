// What the program shows in its console outside the first-run setup: the status report and the
// interactive console start (listen, say so, open the panel, serve).
#pragma once

#include <cstdint>
#include <string>

#include "app/command_line.h"

namespace korba {

inline constexpr const char* BANNER_RULE = "==============================================";

std::string panel_address(std::uint16_t port);

// The --service-status report, ready to print.
std::string service_status_report(const std::string& exe_path);

// Whether our installed service is the one running; the state is asked only when it is installed.
bool installed_service_running();

// Returns the process exit code (0 on every path). `config.printer` is already settled.
int console_start(const Config& config);

}  // namespace korba
