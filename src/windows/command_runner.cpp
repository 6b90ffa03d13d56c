#include "windows/command_runner.h"

#include <atomic>
#include <optional>

#include "common/text.h"
#include "windows/autostart.h"
#include "windows/process.h"
#include "windows/win_command_line.h"

namespace korba {

namespace {

std::string program_file_name(const std::string& program) {
    return program.find('.') == std::string::npos ? program + PROGRAM_SUFFIX : program;
}

std::string in_folder(const std::string& folder, const std::string& name) {
    const bool has_separator = std::string_view(FOLDER_SEPARATORS).find(folder.back()) != std::string::npos;
    return folder + (has_separator ? "" : std::string(1, FOLDER_SEPARATORS[0])) + name;
}

// The Windows tools exist only where the system keeps them.
bool is_windows_tool(const std::string& program) {
    for (const char* tool : {"sc", "reg", "net", "cmd", "powershell"})
        if (program == tool) return true;
    return false;
}

// Children start in the system folder, never in wherever this program was started from (often the
// downloads folder, where a planted library could wait for them).
class SystemProcessRunner : public ProcessRunner {
public:
    Result<CommandOutput> run(const std::string& program, const std::vector<CommandArg>& args) override {
        const std::optional<std::string> application = find_program(program);
        if (!application) return fail("program not found");
        const std::vector<std::string> system_folders = system_program_folders();
        return run_process(*application, render_command_line(program, args),
                           system_folders.empty() ? std::string() : system_folders.front());
    }
};

SystemProcessRunner system_runner;
std::atomic<ProcessRunner*> current_runner{&system_runner};

// sc gets its arguments quoted whenever they hold a blank or a quote; an empty one adds nothing.
std::string prepare_sc_argument(const std::string& arg) {
    if (arg.empty()) return arg;
    const bool needs_quotes = arg.find_first_of(" \t\"") != std::string::npos;
    return needs_quotes ? quote_argument(arg, true) : arg;
}

}  // namespace

std::vector<std::string> program_candidates(const std::string& program, const ProgramSearch& places) {
    const std::string file_name = program_file_name(program);
    std::vector<std::string> folders = places.system_folders;
    if (program == "powershell" && !folders.empty() && !folders.front().empty())
        folders.front() = in_folder(folders.front(), POWERSHELL_SUBFOLDER);
    if (!is_windows_tool(program)) folders.push_back(places.own_folder);
    for (size_t start = 0; !is_windows_tool(program) && start <= places.path_variable.size();) {
        size_t end = places.path_variable.find(PATH_LIST_SEPARATOR, start);
        if (end == std::string::npos) end = places.path_variable.size();
        folders.push_back(places.path_variable.substr(start, end - start));
        start = end + 1;
    }
    std::vector<std::string> candidates;
    for (const std::string& folder : folders)
        if (!folder.empty()) candidates.push_back(in_folder(folder, file_name));
    return candidates;
}

std::optional<std::string> find_program(const std::string& program) {
    const ProgramSearch places{system_program_folders(), program_folder(), path_variable()};
    for (const std::string& candidate : program_candidates(program, places))
        if (is_program_file(candidate)) return candidate;
    return std::nullopt;
}

ProcessRunner& process_runner() { return *current_runner.load(); }

void set_process_runner(ProcessRunner* replacement) {
    current_runner.store(replacement ? replacement : &system_runner);
}

Result<CommandOutput> run_command(const std::string& program, const std::vector<CommandArg>& args) {
    return process_runner().run(program, args);
}

std::string decode_output(const std::string& bytes) { return to_valid_utf8(bytes); }

Result<std::string> run_sc(const std::vector<std::string>& args) {
    std::string line;
    for (size_t i = 0; i < args.size(); ++i) {
        if (i > 0) line += ' ';
        line += prepare_sc_argument(args[i]);
    }
    return run_sc_line(line);
}

Result<std::string> run_sc_line(const std::string& line) {
    Result<CommandOutput> output = run_command("sc", {{line, true}});
    if (!output) return fail("no puedo ejecutar sc.exe: " + output.error());
    if (output.value().exit_code != 0) {
        const std::string err = decode_output(output.value().stderr_bytes);
        const std::string_view message = trim_white_space(err);
        if (!message.empty()) return fail(std::string(message));
        return fail(std::string(trim_white_space(decode_output(output.value().stdout_bytes))));
    }
    return decode_output(output.value().stdout_bytes);
}

Status run_reg(const std::vector<CommandArg>& args) {
    const Result<CommandOutput> run = run_command("reg", args);
    if (!run) return fail(run.error());
    if (run.value().exit_code != 0)
        return fail(std::string(trim_white_space(decode_output(run.value().stderr_bytes))));
    return success();
}

}  // namespace korba
