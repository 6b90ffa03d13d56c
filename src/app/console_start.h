// The interactive console start: listen, say so, open the panel, serve.
#pragma once

#include "app/command_line.h"

namespace korba {

inline constexpr const char* BANNER_RULE = "==============================================";

// Returns the process exit code (0 on every path).
int console_start(const Config& config);

}  // namespace korba
