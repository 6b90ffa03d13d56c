// Test driver: run_command(program, regular args) from a real program file, so the search
// starts in this driver's folder. Writes the outcome into the folder given first:
// "exit", "stdout", "stderr", or "error" with the start error's text.
#include <fstream>
#include <string>
#include <vector>

#include "common/text.h"
#include "windows/command_runner.h"

namespace {

void write_file(const std::string& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

int drive(const std::vector<std::string>& args) {
    if (args.size() < 2) return 2;
    const std::string folder = args[0] + "/";
    std::vector<korba::CommandArg> command_args;
    for (size_t i = 2; i < args.size(); ++i) command_args.push_back({args[i]});
    const korba::Result<korba::CommandOutput> output = korba::run_command(args[1], command_args);
    if (!output) {
        write_file(folder + "error", output.error());
        return 0;
    }
    write_file(folder + "exit", std::to_string(output.value().exit_code));
    write_file(folder + "stdout", output.value().stdout_bytes);
    write_file(folder + "stderr", output.value().stderr_bytes);
    return 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(korba::from_wide(reinterpret_cast<const char16_t*>(argv[i])));
    return drive(args);
}
#else
int main(int argc, char** argv) { return drive(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
