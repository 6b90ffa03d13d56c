#include "app/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace korba {
namespace {

struct ScanCase {
    std::vector<std::string> args;
    RunMode mode;
    Config config;
};

Config with(auto change) {
    Config config;
    change(config);
    return config;
}

const Config DEFAULTS;
const Config SERVICE = with([](Config& c) {
    c.service_mode = c.hide_console = true;
    c.open_panel = false;
});

TEST(CommandLine, ScanReadsLeftToRightAndStopsAtTheFirstOneShot) {
    const ScanCase cases[] = {
        {{}, RunMode::Console, DEFAULTS},
        {{"--port", "9300", "--install"}, RunMode::Install, with([](Config& c) { c.port = 9300; })},
        {{"--install", "--port", "9300"}, RunMode::Install, DEFAULTS},
        {{"--install", "--printer", "POS"}, RunMode::Install, DEFAULTS},
        {{"--service", "--list"}, RunMode::ListPrinters, SERVICE},
        {{"--list", "--install"}, RunMode::ListPrinters, DEFAULTS},
        {{"-h"}, RunMode::Help, DEFAULTS},
        {{"--help"}, RunMode::Help, DEFAULTS},
        {{"--service-status"}, RunMode::ServiceStatus, DEFAULTS},
        {{"--uninstall"}, RunMode::Uninstall, DEFAULTS},
        {{"--start"}, RunMode::StartService, DEFAULTS},
        {{"--stop"}, RunMode::StopService, DEFAULTS},
        {{"--service"}, RunMode::Service, SERVICE},
        {{"--no-console"}, RunMode::Service, SERVICE},
        {{"--autostart"}, RunMode::Console, with([](Config& c) {
             c.hide_console = true;
             c.open_panel = false;
         })},
        {{"--no-open"}, RunMode::Console, with([](Config& c) { c.open_panel = false; })},
        {{"--no-setup", "--setup"}, RunMode::Console, with([](Config& c) { c.skip_setup = c.force_setup = true; })},
        // Matching is whole-argument and case-sensitive; unknown arguments are skipped.
        {{"-H", "--HELP", "--port=9300", "--list-printers", "-hx", "install"}, RunMode::Console, DEFAULTS},
        // A value option takes the next argument whatever it looks like.
        {{"--port", "--no-open"}, RunMode::Console, DEFAULTS},
        {{"--printer", "--install"}, RunMode::Console, with([](Config& c) { c.printer = "--install"; })},
        // As the last argument it is skipped and changes nothing.
        {{"--port", "9300", "--port"}, RunMode::Console, with([](Config& c) { c.port = 9300; })},
        {{"--printer", "A", "--printer"}, RunMode::Console, with([](Config& c) { c.printer = "A"; })},
        {{"--port", "9301", "--port", "9302"}, RunMode::Console, with([](Config& c) { c.port = 9302; })},
        {{"--printer", "POS+80"}, RunMode::Console, with([](Config& c) { c.printer = "POS 80"; })},
        {{"--printer", " +\"Caja\"+ "}, RunMode::Console, with([](Config& c) { c.printer = "  \"Caja\"  "; })},
        {{"--printer", "A", "--printer", ""}, RunMode::Console, DEFAULTS},
        // --paper takes only 58 or 80, and a bad value or none stops the scan.
        {{"--preview", "--paper", "58", "--paper", "80"}, RunMode::Console, with([](Config& c) { c.preview = true; })},
        {{"--paper", "58", "--service"}, RunMode::Service, with([](Config& c) {
             c = SERVICE;
             c.paper = 58;
         })},
        {{"--preview", "--paper", "57", "--install"}, RunMode::BadPaper, with([](Config& c) { c.preview = true; })},
        {{"--paper", "080"}, RunMode::BadPaper, DEFAULTS},
        {{"--paper", ""}, RunMode::BadPaper, DEFAULTS},
        {{"--paper"}, RunMode::BadPaper, DEFAULTS},
        {{"--list", "--paper", "90"}, RunMode::ListPrinters, DEFAULTS},
        // --printer-for adds printers in order; a value that is not ALIAS=PRINTER, or a repeated
        // alias, stops the scan.
        {{"--printer-for", "cocina=COCINA+1", "--printer", "CAJA", "--printer-for", "barra=B=A+R", "--install"},
         RunMode::Install,
         with([](Config& c) {
             c.printer = "CAJA";
             c.aliases = {{"cocina", "COCINA 1"}, {"barra", "B=A R"}};
         })},
        {{"--printer-for", std::string(32, 'a') + "=X", "--printer-for", "a-z_09=+"},
         RunMode::Console,
         with([](Config& c) {
             c.aliases = {{std::string(32, 'a'), "X"}, {"a-z_09", " "}};
         })},
        {{"--list", "--printer-for", "mal"}, RunMode::ListPrinters, DEFAULTS},
        {{"--printer-for", "cocina=A", "--printer-for", "cocina=B", "--list"},
         RunMode::BadPrinterFor,
         with([](Config& c) {
             c.aliases = {{"cocina", "A"}};
         })},
        {{"--printer-for", "cocina"}, RunMode::BadPrinterFor, DEFAULTS},
        {{"--printer-for", "cocina="}, RunMode::BadPrinterFor, DEFAULTS},
        {{"--printer-for", "=COCINA"}, RunMode::BadPrinterFor, DEFAULTS},
        {{"--printer-for", "Cocina=COCINA"}, RunMode::BadPrinterFor, DEFAULTS},
        {{"--printer-for", "co.cina=COCINA"}, RunMode::BadPrinterFor, DEFAULTS},
        {{"--printer-for", std::string(33, 'a') + "=X"}, RunMode::BadPrinterFor, DEFAULTS},
        {{"--printer-for"}, RunMode::BadPrinterFor, DEFAULTS},
        // The list form of a settings file: items split at ";", empty items skipped, the same rules.
        {{"--printer-for-list", ";cocina=COCINA 1;;barra=B+1;", "--printer-for", "caja=C"},
         RunMode::Console,
         with([](Config& c) {
             c.aliases = {{"cocina", "COCINA 1"}, {"barra", "B 1"}, {"caja", "C"}};
         })},
        {{"--printer-for-list", "", "--service"}, RunMode::Service, SERVICE},
        {{"--printer-for-list", "cocina=A;cocina=B"}, RunMode::BadPrinterFor, with([](Config& c) {
             c.aliases = {{"cocina", "A"}};
         })},
        {{"--printer-for-list", "cocina=A;barra"}, RunMode::BadPrinterFor, with([](Config& c) {
             c.aliases = {{"cocina", "A"}};
         })},
        {{"--printer-for-list"}, RunMode::BadPrinterFor, DEFAULTS},
        // --data takes the next argument as it is, whatever it looks like.
        {{"--data", "--service", "--data"}, RunMode::Console, with([](Config& c) { c.data_folder = "--service"; })},
        {{"--data", "C:\\datos korba"}, RunMode::Console, with([](Config& c) { c.data_folder = "C:\\datos korba"; })},
    };
    for (const ScanCase& test : cases) {
        std::string label;
        for (const std::string& arg : test.args) label += "[" + arg + "]";
        SCOPED_TRACE(label);
        const ScanResult scan = scan_command_line(test.args);
        EXPECT_EQ(scan.mode, test.mode);
        EXPECT_EQ(scan.config.printer, test.config.printer);
        EXPECT_EQ(scan.config.port, test.config.port);
        EXPECT_EQ(scan.config.open_panel, test.config.open_panel);
        EXPECT_EQ(scan.config.hide_console, test.config.hide_console);
        EXPECT_EQ(scan.config.service_mode, test.config.service_mode);
        EXPECT_EQ(scan.config.skip_setup, test.config.skip_setup);
        EXPECT_EQ(scan.config.force_setup, test.config.force_setup);
        EXPECT_EQ(scan.config.preview, test.config.preview);
        EXPECT_EQ(scan.config.paper, test.config.paper);
        EXPECT_EQ(scan.config.data_folder, test.config.data_folder);
        EXPECT_EQ(scan.config.aliases, test.config.aliases);
    }
}

TEST(CommandLine, PortValueFallsBackToTheDefaultWhenNotAnUnsigned16BitNumber) {
    const struct {
        const char* text;
        std::uint16_t port;
    } cases[] = {
        {"9231", 9231},  {"+9231", 9231},  {"09231", 9231},
        {"0", 0},        {"65535", 65535}, {"0000065535", 65535},
        {"70000", 9230}, {"65536", 9230},  {"abc", 9230},
        {"-1", 9230},    {"", 9230},       {" 9231", 9230},
        {"9231 ", 9230}, {"+", 9230},      {"++1", 9230},
        {"-0", 9230},    {"92 31", 9230},  {"99999999999999999999", 9230},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(std::string("[") + test.text + "]");
        EXPECT_EQ(scan_command_line({"--port", test.text}).config.port, test.port);
    }
}

TEST(CommandLine, HelpTextIsExactForEachBuild) {
    const std::string head =
        "korba-vizoza 1.5.0 (build 1.5.0) - Vizoza de impresion local para KORBA\n"
        "\n";
    const std::string shared =
        "  --printer-for A=N    Impresora N con el alias A para las paginas web (repetible)\n"
        "  --printer-for-list L Varios A=N separados por ;\n"
        "  --port N             Puerto local (por defecto: 9230)\n"
        "  --preview            Impresora virtual: los tickets se ven en el panel, no se imprimen\n"
        "  --paper 58|80        Ancho del papel de la impresora virtual en mm (por defecto: 80)\n"
        "  --data \"CARPETA\"     Carpeta del registro de tickets\n"
        "  --no-open            No abrir el panel en el navegador al arrancar\n";
    EXPECT_EQ(help_text(true),
              head +
                  "Uso:  korba-vizoza.exe [opciones]\n"
                  "\n"
                  "  --printer \"NOMBRE\"   Impresora de Windows a usar (por defecto: la predeterminada)\n" +
                  shared +
                  "  --no-setup           No hacer la puesta en marcha automatica del primer arranque\n"
                  "  --setup              Forzar la puesta en marcha (copia + servicio) ahora\n"
                  "  --autostart          Modo auto-arranque: sin consola y sin abrir el panel\n"
                  "  --service            Modo servicio de Windows: sin consola, sin panel, sin abrir nada\n"
                  "  --no-console         Alias de --service\n"
                  "  --list               Lista las impresoras de Windows y sale\n"
                  "\n"
                  "  INSTALAR/DESINSTALAR COMO SERVICIO (requiere administrador):\n"
                  "  --install            Instala el servicio (arranca con Windows, se reinicia solo)\n"
                  "  --uninstall          Para y elimina el servicio\n"
                  "  --service-status     Muestra si el servicio esta instalado y su estado\n"
                  "  --start              Arranca el servicio instalado\n"
                  "  --stop               Para el servicio instalado\n"
                  "\n"
                  "  -h, --help           Esta ayuda\n"
                  "\n"
                  "  PRIMER USO: haz doble clic y listo. El vizoza se copia a C:\\KORBA\n"
                  "  intenta instalarse como servicio (pide permisos UNA vez) y arranca.\n"
                  "  Si cancelas los permisos, sigue funcionando arrancando con Windows.\n");
    EXPECT_EQ(help_text(false),
              head +
                  "Uso:  korba-vizoza [opciones]\n"
                  "\n"
                  "  --printer \"NOMBRE\"   Impresora a usar (por defecto: la predeterminada)\n" +
                  shared +
                  "  --service            Modo servicio (systemd): sin consola, sin panel, sin abrir nada\n"
                  "  --no-console         Alias de --service\n"
                  "  --list               Lista las impresoras y sale\n"
                  "\n"
                  "  -h, --help           Esta ayuda\n");
}

}  // namespace
}  // namespace korba
