// The thin system layer under run_command (process_win32.cpp / process_posix.cpp).
#pragma once

#include <string>
#include <vector>

#include "common/result.h"
#include "windows/command_runner.h"

namespace korba {

#ifdef _WIN32
inline constexpr char PATH_LIST_SEPARATOR = ';';
inline constexpr const char* FOLDER_SEPARATORS = "\\/";
inline constexpr const char* PROGRAM_SUFFIX = ".exe";
#else
inline constexpr char PATH_LIST_SEPARATOR = ':';
inline constexpr const char* FOLDER_SEPARATORS = "/";
inline constexpr const char* PROGRAM_SUFFIX = "";
#endif

// The system folder and the Windows folder (none on POSIX).
std::vector<std::string> system_program_folders();
std::string path_variable();
bool is_program_file(const std::string& path);
// Starts `application` with `command_line`, stdin from the null device, and collects both
// pipes to their end and the exit code.
Result<CommandOutput> run_process(const std::string& application, const std::string& command_line);

}  // namespace korba
