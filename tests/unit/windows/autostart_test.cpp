#include "windows/autostart.h"

#include <gtest/gtest.h>

#include "fakes/fake_process_runner.h"
#include "windows/win_command_line.h"

namespace korba {
namespace {

TEST(LocationWarning, MatchesDownloadsAndTemporaryFolders) {
    const std::pair<const char*, bool> cases[] = {
        {"C:\\Users\\usuario\\Downloads\\korba-vizoza.exe", true},
        {"C:\\Users\\usuario\\Descargas\\korba-vizoza.exe", true},
        {"C:\\Users\\usuario\\AppData\\Local\\Temp\\korba-vizoza.exe", true},
        {"D:\\Temporal\\korba-vizoza.exe", true},
        {"C:\\tmpfiles\\korba-vizoza.exe", true},
        {"C:\\Programas\\Downloader\\korba-vizoza.exe", true},
        {"C:\\USERS\\USUARIO\\DOWNLOADS\\KORBA-VIZOZA.EXE", true},
        {"C:\\KORBA\\korba-vizoza.exe", false},
        {"C:\\Mis programas\\korba-vizoza.exe", false},
        {"C:\\contemp\\korba-vizoza.exe", false},
        {"", false},
    };
    for (const auto& [path, warned] : cases) {
        const std::optional<std::string> warning = location_warning_for(path);
        ASSERT_EQ(warning.has_value(), warned) << path;
        if (warned) {
            EXPECT_EQ(*warning, LOCATION_WARNING);
        }
    }
    EXPECT_EQ(std::string(LOCATION_WARNING).size(), 130u);
}

const std::string QUERY = "\"reg\" query HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run /v KORBAVizoza";

TEST(SetAutostart, AddsTheQuotedPathAndChecksIt) {
    const std::string entry = '"' + current_exe_path() + "\" --autostart";
    // The options after --autostart each quoted for the command line the entry becomes.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, entry},
        {{"--printer-for", "cocina=COCINA+1", "--printer-for", "barra=B\t\"2\""},
         entry + " --printer-for cocina=COCINA+1 --printer-for \"barra=B\t\\\"2\\\"\""},
    };
    for (const auto& [options, data] : cases) {
        FakeProcessRunner fake;
        ASSERT_TRUE(set_autostart(true, options).ok());
        EXPECT_EQ(fake.command_lines(),
                  (std::vector<std::string>{"\"reg\" add HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run /v "
                                            "KORBAVizoza /t REG_SZ /d " +
                                                quote_argument(data) + " /f",
                                            QUERY}));
        // What the next logon starts with: the options as given.
        std::vector<std::string> args = split_command_line(data);
        EXPECT_EQ(std::vector<std::string>(args.begin() + 2, args.end()), options);
    }
}

TEST(SetAutostart, RemovesAndIgnoresHowTheRemovalWent) {
    FakeProcessRunner fake;
    fake.will_return(FakeProcessRunner::exited(1, "", "ERROR: no existe"));
    fake.will_return(FakeProcessRunner::exited(1));
    ASSERT_TRUE(set_autostart(false).ok());
    EXPECT_EQ(fake.command_lines(),
              (std::vector<std::string>{
                  "\"reg\" delete HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run /v KORBAVizoza /f", QUERY}));
}

struct Failing {
    const char* name;
    bool enable;
    std::vector<Result<CommandOutput>> played;
    std::string error;
    size_t runs;
};

TEST(SetAutostart, ReportsWhatWentWrong) {
    const Failing cases[] = {
        {"reg missing", true, {fail("program not found")}, "program not found", 1},
        {"add refused",
         true,
         {FakeProcessRunner::exited(1, "ignored", "\r\nERROR: Acceso denegado.\r\n")},
         "ERROR: Acceso denegado.",
         1},
        {"add refused silently", true, {FakeProcessRunner::exited(1, "ignored")}, "", 1},
        {"value not there after adding",
         true,
         {FakeProcessRunner::exited(0), FakeProcessRunner::exited(1)},
         "no se pudo cambiar la entrada de arranque",
         2},
        {"value still there after removing",
         false,
         {FakeProcessRunner::exited(0), FakeProcessRunner::exited(0)},
         "no se pudo cambiar la entrada de arranque",
         2},
    };
    for (const Failing& c : cases) {
        FakeProcessRunner fake;
        for (const Result<CommandOutput>& result : c.played) fake.will_return(result);
        const Status status = set_autostart(c.enable);
        ASSERT_FALSE(status.ok()) << c.name;
        EXPECT_EQ(status.error(), c.error) << c.name;
        EXPECT_EQ(fake.calls().size(), c.runs) << c.name;
    }
}

TEST(AutostartEnabled, IsTrueOnlyForAQueryThatExitsZero) {
    FakeProcessRunner fake;
    fake.will_return(FakeProcessRunner::exited(0));
    fake.will_return(FakeProcessRunner::exited(1));
    fake.will_fail_to_start("program not found");
    EXPECT_TRUE(autostart_enabled());
    EXPECT_FALSE(autostart_enabled());
    EXPECT_FALSE(autostart_enabled());
    EXPECT_EQ(fake.command_lines(), std::vector<std::string>(3, QUERY));
}

}  // namespace
}  // namespace korba
