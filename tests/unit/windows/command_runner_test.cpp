#include "windows/command_runner.h"

#include <gtest/gtest.h>

#include "fakes/fake_process_runner.h"
#include "windows/process.h"

namespace korba {
namespace {

TEST(ProgramCandidates, WindowsToolsOnlyFromTheSystemOthersThenFromTheOwnFolderAndPath) {
    const std::string sep(1, FOLDER_SEPARATORS[0]);
    const std::string path = "p1" + sep + std::string(2, PATH_LIST_SEPARATOR) + "p2" + sep;
    const auto in = [&](const std::string& folder, const std::string& name) { return folder + sep + name; };
    const std::string exe = PROGRAM_SUFFIX;
    const ProgramSearch windows{{"sys", "win"}, "own", path};
    for (const char* tool : {"sc", "reg", "net", "cmd"})
        EXPECT_EQ(program_candidates(tool, windows),
                  (std::vector<std::string>{in("sys", tool + exe), in("win", tool + exe)}));
    EXPECT_EQ(program_candidates("powershell", windows),
              (std::vector<std::string>{in(in("sys", "WindowsPowerShell\\v1.0"), "powershell" + exe),
                                        in("win", "powershell" + exe)}));
    EXPECT_EQ(program_candidates("korba-tool", windows),
              (std::vector<std::string>{in("sys", "korba-tool" + exe), in("win", "korba-tool" + exe),
                                        in("own", "korba-tool" + exe), in("p1", "korba-tool" + exe),
                                        in("p2", "korba-tool" + exe)}));
    EXPECT_EQ(program_candidates("run.bat", {{}, "own", ""}), std::vector<std::string>{in("own", "run.bat")});
    EXPECT_EQ(program_candidates("reg", {{"", ""}, "", ""}), std::vector<std::string>{}) << "unknown folders";
    EXPECT_EQ(program_candidates("reg", {{}, "own", path}), std::vector<std::string>{}) << "no system folders (POSIX)";
}

TEST(RunSc, PreparesEachArgument) {
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{"stop", "KORBAVizoza"}, "\"sc\" stop KORBAVizoza"},
        {{"a", "", "b"}, "\"sc\" a  b"},
        {{"a\"b"}, "\"sc\" \"a\\\"b\""},
        {{"description", "KORBAVizoza", "Puente de impresion"},
         "\"sc\" description KORBAVizoza \"Puente de impresion\""},
        {{"C:\\plain\\path"}, "\"sc\" C:\\plain\\path"},
        // A tab would split the argument, and a backslash before the closing quote would escape it.
        {{"tab\there"}, "\"sc\" \"tab\there\""},
        {{"C:\\a b\\"}, "\"sc\" \"C:\\a b\\\\\""},
    };
    for (const auto& [args, line] : cases) {
        FakeProcessRunner fake;
        (void)run_sc(args);
        ASSERT_EQ(fake.calls().size(), 1u);
        EXPECT_EQ(fake.calls()[0].program, "sc");
        EXPECT_EQ(fake.calls()[0].command_line, line);
    }
}

TEST(RunScLine, PassesTheTextVerbatim) {
    FakeProcessRunner fake;
    (void)run_sc_line("create KORBAVizoza binPath= \"\\\"C:\\KORBA\\korba-vizoza.exe\\\" --service\"");
    EXPECT_EQ(fake.command_lines(),
              std::vector<std::string>{
                  "\"sc\" create KORBAVizoza binPath= \"\\\"C:\\KORBA\\korba-vizoza.exe\\\" --service\""});
}

struct ScOutcome {
    const char* name;
    Result<CommandOutput> played;
    bool ok;
    std::string text;
};

TEST(RunScLine, TurnsTheOutcomeIntoText) {
    const ScOutcome cases[] = {
        {"start error", fail("program not found"), false, "no puedo ejecutar sc.exe: program not found"},
        {"message on stdout only",
         FakeProcessRunner::exited(1060,
                                   "\r\n[SC] OpenService FAILED 1060:\r\n\r\nThe service does not exist.\r\n\r\n"),
         false, "[SC] OpenService FAILED 1060:\r\n\r\nThe service does not exist."},
        {"stderr preferred", FakeProcessRunner::exited(5, "out", " \u00a0denied\u3000\n"), false, "denied"},
        {"blank stderr falls back", FakeProcessRunner::exited(5, " out\n", " \t\n"), false, "out"},
        {"nothing written", FakeProcessRunner::exited(1), false, ""},
        {"success untrimmed", FakeProcessRunner::exited(0, "\r\nSERVICE_NAME: X\r\n\r\n", "noise"), true,
         "\r\nSERVICE_NAME: X\r\n\r\n"},
        {"invalid UTF-8 in the message", FakeProcessRunner::exited(2, "", "fall\xf3 \xff"), false,
         "fall\xef\xbf\xbd \xef\xbf\xbd"},
    };
    for (const ScOutcome& c : cases) {
        FakeProcessRunner fake;
        fake.will_return(c.played);
        const Result<std::string> result = run_sc_line("query KORBAVizoza");
        ASSERT_EQ(result.ok(), c.ok) << c.name;
        EXPECT_EQ(c.ok ? result.value() : result.error(), c.text) << c.name;
    }
}

TEST(DecodeOutput, ReplacesEachInvalidSequence) {
    EXPECT_EQ(decode_output("ok \xc3\xb1"), "ok \xc3\xb1");
    EXPECT_EQ(decode_output("a\xe1z"), "a\xef\xbf\xbdz");
    EXPECT_EQ(decode_output("\xe2\x82"), "\xef\xbf\xbd");
    EXPECT_EQ(decode_output("\xc0\xaf"), "\xef\xbf\xbd\xef\xbf\xbd");
    EXPECT_EQ(decode_output(std::string("nul\0byte", 8)), std::string("nul\0byte", 8));
}

}  // namespace
}  // namespace korba
