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

std::vector<std::string> search_folders() {
    std::vector<std::string> folders{program_folder()};
    for (std::string& folder : system_program_folders()) folders.push_back(std::move(folder));
    const std::string path = path_variable();
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find(PATH_LIST_SEPARATOR, start);
        if (end == std::string::npos) end = path.size();
        folders.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return folders;
}

std::optional<std::string> find_program_file(const std::string& file_name) {
    for (const std::string& folder : search_folders()) {
        if (folder.empty()) continue;
        const bool has_separator = std::string_view(FOLDER_SEPARATORS).find(folder.back()) != std::string::npos;
        std::string candidate = folder + (has_separator ? "" : std::string(1, FOLDER_SEPARATORS[0])) + file_name;
        if (is_program_file(candidate)) return candidate;
    }
    return std::nullopt;
}

class SystemProcessRunner : public ProcessRunner {
public:
    Result<CommandOutput> run(const std::string& program, const std::vector<CommandArg>& args) override {
        const std::optional<std::string> application = find_program(program);
        if (!application) return fail("program not found");
        return run_process(*application, render_command_line(program, args));
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

std::optional<std::string> find_program(const std::string& program) {
    return find_program_file(program_file_name(program));
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

}  // namespace korba
