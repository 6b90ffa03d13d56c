#include "app/elevated_relaunch.h"

#include <gtest/gtest.h>

#include "app/command_line.h"
#include "common/text.h"
#include "fakes/fake_process_runner.h"
#include "windows/file_system.h"
#include "windows/win_command_line.h"

namespace korba {
namespace {

const std::string DOWNLOADED = "C:\\Users\\usuario\\Downloads\\korba-vizoza.exe";
const std::string BEFORE_PATH = "try { $p = Start-Process -FilePath ";
const std::string BEFORE_LIST = " -ArgumentList @(";

std::string script_with(const std::string& path, const std::string& list) {
    return BEFORE_PATH + path + BEFORE_LIST + list +
           ") -Verb RunAs -Wait -PassThru; exit $p.ExitCode } catch { exit 1223 }";
}

bool powershell_quote(char32_t c) { return c == U'\'' || (c >= U'\u2018' && c <= U'\u201B'); }

// What Start-Process starts: the path and the list's strings as PowerShell reads them (any two of
// its single quotes side by side are one literal quote), joined by bare spaces.
std::string elevated_command_line(const std::string& script) {
    const size_t path_end = script.find(BEFORE_LIST);
    const size_t open = path_end + BEFORE_LIST.size();
    const std::string list = script.substr(BEFORE_PATH.size(), path_end - BEFORE_PATH.size()) + "," +
                             script.substr(open, script.rfind(") -Verb") - open);
    std::string joined;
    bool quoted = false;
    for (size_t pos = 0; pos < list.size();) {
        const size_t start = pos;
        const bool quote = powershell_quote(next_code_point(list, pos));
        const std::string piece = list.substr(start, pos - start);
        size_t after = pos;
        if (quote && quoted && after < list.size() && powershell_quote(next_code_point(list, after))) {
            joined += piece;
            pos = after;
        } else if (quote) {
            quoted = !quoted;
            if (quoted) joined += ' ';
        } else if (quoted) {
            joined += piece;
        }
    }
    return joined.substr(1);
}

TEST(ElevatedRelaunch, ScriptText) {
    const struct {
        const char* printer;
        std::uint16_t port;
        std::string list;
        std::vector<PrinterEntry> aliases = {};
    } cases[] = {
        {"", 9230, "'--install'"},
        {"", 9231, "'--port','9231','--install'"},
        {"POS-80", 9230, "'--printer','POS-80','--install'"},
        {"O'Brien POS", 9231, "'--printer','\"O''Brien POS\"','--port','9231','--install'"},
        {"Caja\"1", 9230, "'--printer','Caja\\\"1','--install'"},
        // Each of PowerShell's five single quotes is doubled, or Caja’+$(calc)+’ would run calc.
        {"Caja\u2019+$(calc)+\u2019", 9230, "'--printer','Caja\u2019\u2019+$(calc)+\u2019\u2019','--install'"},
        {"'\u2018\u2019\u201A\u201B", 9230,
         "'--printer','''\u2018\u2018\u2019\u2019\u201A\u201A\u201B\u201B','--install'"},
        // The aliases come before --port and --install, their spaces as plus signs.
        {"POS 80",
         9231,
         "'--printer','\"POS 80\"','--printer-for','cocina=O''Brien+1','--printer-for','barra=B','--port','9231',"
         "'--install'",
         {{"cocina", "O'Brien 1"}, {"barra", "B"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(elevation_script(DOWNLOADED, c.printer, c.port, c.aliases),
                  script_with("'" + DOWNLOADED + "'", c.list));
    // The path is quoted like the arguments: Windows rules first, then PowerShell's.
    EXPECT_EQ(elevation_script("C:\\Users\\Ana O\u2019Neil\\Desktop\\korba-vizoza.exe", "", 9230),
              script_with("'\"C:\\Users\\Ana O\u2019\u2019Neil\\Desktop\\korba-vizoza.exe\"'", "'--install'"));
}

TEST(ElevatedRelaunch, TheRunningProgramInstallsForThePrinterAndPortGiven) {
    const std::string program = "C:\\Users\\O'Brien\\Mis descargas\u2019\\korba-vizoza.exe";
    for (const std::string printer : {"", "POS-80", "O'Brien POS", "Caja \"A\" 2", "C:\\impresoras\\",
                                      "Caja\u2019;$(calc);\u2019", "a\u2018b \u201Ac\u201B\u201B'"}) {
        for (const std::uint16_t port : {std::uint16_t{9230}, std::uint16_t{9231}}) {
            SCOPED_TRACE(printer + " " + std::to_string(port));
            // The same names as the aliases' printers.
            std::vector<PrinterEntry> aliases;
            if (!printer.empty()) aliases = {{"cocina", printer + " 1"}, {"barra", printer}};
            std::vector<std::string> args =
                split_command_line(elevated_command_line(elevation_script(program, printer, port, aliases)));
            EXPECT_EQ(args.at(0), program);
            args.erase(args.begin());
            const ScanResult scan = scan_command_line(args);
            EXPECT_EQ(scan.mode, RunMode::Install);
            EXPECT_EQ(scan.config.printer, printer);
            EXPECT_EQ(scan.config.port, port);
            EXPECT_EQ(scan.config.aliases, aliases);
        }
    }
}

TEST(ElevatedRelaunch, PowerShellGetsFiveArgumentsTheScriptLast) {
    FakeProcessRunner runner;
    (void)relaunch_elevated("O'Brien POS", 9231);
    ASSERT_EQ(runner.calls().size(), 1u);
    EXPECT_EQ(runner.calls()[0].program, "powershell");
    EXPECT_EQ(split_command_line(runner.calls()[0].command_line),
              (std::vector<std::string>{"powershell", "-NoProfile", "-ExecutionPolicy", "Bypass", "-Command",
                                        elevation_script(file_system().running_program(), "O'Brien POS", 9231)}));
}

TEST(ElevatedRelaunch, ResultsByExitCode) {
    using Output = FakeProcessRunner;
    const struct {
        const char* name;
        Result<CommandOutput> powershell;
        RelaunchStatus status;
        const char* error;
    } cases[] = {
        {"installed", Output::exited(0, "ignored", "ignored"), RelaunchStatus::Done, ""},
        {"refused", Output::exited(1223), RelaunchStatus::Cancelled, ""},
        {"install failed", Output::exited(1, "out", " \r\nsin permisos\r\n "), RelaunchStatus::Failed,
         "el relanzamiento con permisos falló (código 1): sin permisos"},
        {"nothing said", Output::exited(1), RelaunchStatus::Failed, "el relanzamiento con permisos falló (código 1): "},
        {"negative code", Output::exited(0xC0000005, "", "\xFF"), RelaunchStatus::Failed,
         "el relanzamiento con permisos falló (código -1073741819): \uFFFD"},
        {"no powershell", fail("program not found"), RelaunchStatus::Failed,
         "no puedo relanzar con permisos: program not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FakeProcessRunner runner;
        runner.will_return(c.powershell);
        const RelaunchResult result = relaunch_elevated("", 9230);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.error, c.error);
    }
}

}  // namespace
}  // namespace korba
