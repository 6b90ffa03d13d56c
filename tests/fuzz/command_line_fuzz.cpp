// Quoting arguments into a Windows command line and splitting it again gives them back.
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "windows/win_command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    // NUL separates the parts: the program name first, then the arguments. A command line
    // cannot carry a NUL, and a program name cannot carry a double quote.
    std::vector<std::string> parts{""};
    for (const char c : korba::fuzz::as_text(data, size)) {
        if (c == '\0')
            parts.emplace_back();
        else
            parts.back() += c;
    }
    if (parts[0].find('"') != std::string::npos) return 0;

    std::vector<korba::CommandArg> args;
    for (size_t i = 1; i < parts.size(); ++i) args.push_back({parts[i]});
    korba::fuzz::expect(korba::split_command_line(korba::render_command_line(parts[0], args)) == parts,
                        "the split does not give the arguments back");

    for (size_t i = 1; i < parts.size(); ++i) {
        const std::string line = "\"" + parts[0] + "\" " + korba::quote_argument(parts[i], true);
        korba::fuzz::expect(korba::split_command_line(line) == std::vector<std::string>{parts[0], parts[i]},
                            "a forced quoting does not come back");
    }
    return 0;
}
