// What the one-shot --install and --uninstall report: the sentence for "OK: " or "ERROR: ".
#pragma once

#include <string>

#include "app/command_line.h"
#include "common/result.h"

namespace korba {

Result<std::string> install_command(const Config& config);
Result<std::string> uninstall_command();

}  // namespace korba
