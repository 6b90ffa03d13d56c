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

// The full path of the program that run_command would start; nullopt when no searched folder holds it.
std::optional<std::string> find_program(const std::string& program);
Result<CommandOutput> run_command(const std::string& program, const std::vector<CommandArg>& args);
std::string decode_output(const std::string& bytes);
// sc with prepared arguments / with one verbatim text; success is sc's stdout, failure its trimmed message.
Result<std::string> run_sc(const std::vector<std::string>& args);
Result<std::string> run_sc_line(const std::string& line);

}  // namespace korba
