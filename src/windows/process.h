// The thin system layer under run_command (process_win32.cpp / process_posix.cpp).
#pragma once

#include <string>
#include <vector>

#include "common/result.h"
#include "windows/command_runner.h"

namespace korba {

// The system's spelling of paths, from the platform layer.
extern const char PATH_LIST_SEPARATOR;
extern const char* const FOLDER_SEPARATORS;  // the first is the one to write
extern const char* const PROGRAM_SUFFIX;

// The system folder and the Windows folder (none on POSIX).
std::vector<std::string> system_program_folders();
std::string path_variable();
bool is_program_file(const std::string& path);
// Starts `application` with `command_line` in `folder` (empty: this process's current folder),
// stdin from the null device, and collects both pipes to their end and the exit code. The child
// inherits no handle but its own three.
Result<CommandOutput> run_process(const std::string& application, const std::string& command_line,
                                  const std::string& folder);

}  // namespace korba
