#include <gtest/gtest.h>

#include "windows/win_command_line.h"
#include "unit/windows/tricky_arguments.h"

namespace korba {
namespace {

struct QuoteCase {
    const char* arg;
    const char* quoted;
};

TEST(QuoteArgument, FollowsTheWindowsRule) {
    const QuoteCase cases[] = {
        {"query", "query"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"tab\there", "\"tab\there\""},
        {"a\"b", "a\\\"b"},
        {"C:\\KORBA\\korba-vizoza.exe", "C:\\KORBA\\korba-vizoza.exe"},
        {"\"C:\\Mis programas\\korba-vizoza.exe\" --autostart",
         "\"\\\"C:\\Mis programas\\korba-vizoza.exe\\\" --autostart\""},
        {"C:\\a b\\", "\"C:\\a b\\\\\""},
        {"a\\\"b", "a\\\\\\\"b"},
        {"end\\\\", "end\\\\"},
        {"x \\\\", "\"x \\\\\\\\\""},
    };
    for (const QuoteCase& c : cases) EXPECT_EQ(quote_argument(c.arg), c.quoted) << c.arg;
    EXPECT_EQ(quote_argument("abc", true), "\"abc\"");
}

TEST(RenderCommandLine, QuotesTheProgramAndCopiesVerbatimText) {
    EXPECT_EQ(render_command_line("sc", {{"stop"}, {"KORBAVizoza"}}), "\"sc\" stop KORBAVizoza");
    EXPECT_EQ(render_command_line("sc", {{"create X binPath= \"a b\"", true}}), "\"sc\" create X binPath= \"a b\"");
    EXPECT_EQ(render_command_line("reg", {{""}, {"a b"}}), "\"reg\" \"\" \"a b\"");
    EXPECT_EQ(render_command_line("cmd", {}), "\"cmd\"");
}

using Args = std::vector<std::string>;

// Lines with the arguments that the Windows parser gives for them.
TEST(SplitCommandLine, ReadsLinesAsWindowsDoes) {
    const std::pair<const char*, Args> cases[] = {
        {"\"abc\" d e", {"abc", "d", "e"}},
        {"p a\\\\\\b d\"e f\"g h", {"p", "a\\\\\\b", "de fg", "h"}},
        {"p a\\\\\\\"b c d", {"p", "a\\\"b", "c", "d"}},
        {"p a\\\\\\\\\"b c\" d e", {"p", "a\\\\b c", "d", "e"}},
        {"\"C:\\Program Files\\x.exe\"  \t one\ttwo  ", {"C:\\Program Files\\x.exe", "one", "two"}},
        {"prog\\\"x\" y", {"prog\\\"x\"", "y"}},
        {"\"p\"next", {"p", "next"}},
        {"p \"\" x", {"p", "", "x"}},
        {"p \"unterminated arg", {"p", "unterminated arg"}},
        {"p \"\"\"", {"p", "\""}},
        {"p \"a\"\"b\" c", {"p", "a\"b c"}},
        {"p a\"\"b c", {"p", "ab", "c"}},
        {"p", {"p"}},
        {"p   ", {"p"}},
    };
    for (const auto& [line, args] : cases) EXPECT_EQ(split_command_line(line), args) << line;
}

TEST(SplitCommandLine, GivesBackEveryQuotedArgument) {
    EXPECT_EQ(split_command_line(tricky_command_line()), tricky_expected_argv());
}

}  // namespace
}  // namespace korba
