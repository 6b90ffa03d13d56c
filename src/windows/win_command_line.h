// Windows command lines as text. The quoting is the encoding that the standard Windows
// argument parsing (CommandLineToArgvW) undoes exactly; the split is that parsing, so a
// POSIX child receives the same arguments a Windows child would.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "windows/command_runner.h"

namespace korba {

// Quotes when empty or holding a space or tab (or always, when `force_quotes`); escapes double
// quotes and doubles the backslashes that precede a quote.
std::string quote_argument(std::string_view arg, bool force_quotes = false);
// The program name as the caller names it, in double quotes, then each argument after one space.
std::string render_command_line(const std::string& program, const std::vector<CommandArg>& args);
// The arguments, program name first, as CommandLineToArgvW reads them.
std::vector<std::string> split_command_line(std::string_view line);

}  // namespace korba
