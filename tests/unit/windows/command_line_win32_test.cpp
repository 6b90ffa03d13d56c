// The quoting checked against the system's own parser, and our parser against it.
#include <gtest/gtest.h>

// clang-format off
#include <windows.h>
#include <shellapi.h>  // needs windows.h first
// clang-format on

#include "common/text.h"
#include "windows/win_command_line.h"
#include "unit/windows/tricky_arguments.h"

namespace korba {
namespace {

std::vector<std::string> system_split(const std::string& line) {
    const std::u16string wide = to_wide(line);
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(reinterpret_cast<LPCWSTR>(wide.c_str()), &count);
    std::vector<std::string> args;
    for (int i = 0; i < count; ++i) args.push_back(from_wide(reinterpret_cast<const char16_t*>(argv[i])));
    LocalFree(argv);
    return args;
}

TEST(CommandLineWin32, TheSystemParserGivesBackEveryArgument) {
    EXPECT_EQ(system_split(tricky_command_line()), tricky_expected_argv());
}

TEST(CommandLineWin32, OurParserAgreesWithTheSystem) {
    const char* lines[] = {
        "\"abc\" d e",
        "p a\\\\\\b d\"e f\"g h",
        "p a\\\\\\\"b c d",
        "p a\\\\\\\\\"b c\" d e",
        "\"C:\\Program Files\\x.exe\"  \t one\ttwo  ",
        "prog\\\"x\" y",
        "\"p\"next",
        "p \"\" x",
        "p \"unterminated arg",
        "p \"\"\"",
        "p \"a\"\"b\" c",
        "p a\"\"b c",
        "p \"\"\"\"\"\" x",
        "p a\"\"\"b\"\" c",
        "p \\\\\"\"\"x",
        "p \\\"\"\" y",
        "p",
        "p   ",
        "\"unterminated program",
    };
    for (const char* line : lines) EXPECT_EQ(split_command_line(line), system_split(line)) << line;
}

}  // namespace
}  // namespace korba
