// Running the system's command-line tools (sc, reg, net, cmd, powershell) with
// captured output. The command line is always built by the Windows quoting rules.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/result.h"

namespace korba {

struct CommandOutput {
    std::uint32_t exit_code = 0;
    std::string stdout_bytes;
    std::string stderr_bytes;
};

// A regular argument is quoted by the Windows rules; a verbatim one is copied unchanged.
struct CommandArg {
    std::string text;
    bool verbatim = false;
};

// The process seam: the real runner by default, a recording fake in unit tests.
class ProcessRunner {
public:
    virtual ~ProcessRunner() = default;
    // Runs the program to its end; the start error ("program not found", or the system's) otherwise.
    virtual Result<CommandOutput> run(const std::string& program, const std::vector<CommandArg>& args) = 0;
};

// The runner in use; `replacement` nullptr restores the real one.
ProcessRunner& process_runner();
void set_process_runner(ProcessRunner* replacement);

// Where a program is looked for. The Windows tools (sc, reg, net, cmd, powershell) come from the
// system's folders and nowhere else, so that a file planted beside the program or on PATH never
// stands in for one; any other program is looked for in the system's folders, its own, then PATH.
struct ProgramSearch {
    std::vector<std::string> system_folders;  // the system folder, then the Windows folder
    std::string own_folder;
    std::string path_variable;
};
// PowerShell lives in its own folder below the system folder.
inline constexpr const char* POWERSHELL_SUBFOLDER = "WindowsPowerShell\\v1.0";
// The files tried for `program` (".exe" added on Windows when it has no extension), in order; none
// for a Windows tool where the system has no folders (POSIX).
std::vector<std::string> program_candidates(const std::string& program, const ProgramSearch& places);
// The full path of the program that run_command would start; nullopt when no searched folder holds it
// (checked first: Wine would start a builtin tool in place of a missing system file).
std::optional<std::string> find_program(const std::string& program);
Result<CommandOutput> run_command(const std::string& program, const std::vector<CommandArg>& args);
std::string decode_output(const std::string& bytes);
// sc with prepared arguments / with one verbatim text; success is sc's stdout, failure its trimmed message.
Result<std::string> run_sc(const std::vector<std::string>& args);
Result<std::string> run_sc_line(const std::string& line);
// reg with its arguments; a failure is the program's start error or reg's trimmed message.
Status run_reg(const std::vector<CommandArg>& args);

}  // namespace korba
