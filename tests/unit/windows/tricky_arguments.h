// Arguments that exercise every corner of the Windows quoting rule: blanks, tabs,
// quotes, runs of backslashes before quotes and at the end, and non-ASCII text.
#pragma once

#include <string>
#include <vector>

#include "windows/win_command_line.h"

namespace korba {

inline const std::vector<std::string> TRICKY_ARGUMENTS = {
    "plain", "", "two words", "tab\tin", "a\"b", "\"", "\\", "\\\\\"", "C:\\a b\\", "x \\\\",
    "\"C:\\Mis programas\\korba-vizoza.exe\" --autostart", "trailing\\\\", "\"\"\"", "ñandú \\\"\\"};

// The line that runs reg with every tricky argument, and the argv a child should see for it.
inline std::string tricky_command_line() {
    std::vector<CommandArg> regular;
    for (const std::string& arg : TRICKY_ARGUMENTS) regular.push_back({arg});
    return render_command_line("reg", regular);
}

inline std::vector<std::string> tricky_expected_argv() {
    std::vector<std::string> expected{"reg"};
    expected.insert(expected.end(), TRICKY_ARGUMENTS.begin(), TRICKY_ARGUMENTS.end());
    return expected;
}

}  // namespace korba
