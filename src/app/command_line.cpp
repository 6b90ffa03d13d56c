#include "app/command_line.h"

#include <algorithm>

#include "common/constants.h"
#include "windows/install_dir.h"

namespace korba {

namespace {

struct OneShot {
    const char* option;
    RunMode mode;
};

const OneShot ONE_SHOTS[] = {
    {"--list", RunMode::ListPrinters},  {"--install", RunMode::Install},   {"--uninstall", RunMode::Uninstall},
    {"--service-status", RunMode::ServiceStatus}, {"--start", RunMode::StartService}, {"--stop", RunMode::StopService},
    {"-h", RunMode::Help},              {"--help", RunMode::Help},
};

// False for a value that is not ALIAS=PRINTER or repeats an alias.
bool add_alias(std::string_view value, Config& config) {
    std::optional<PrinterEntry> entry = parse_printer_for(value);
    if (!entry) return false;
    for (const PrinterEntry& known : config.aliases)
        if (known.alias == entry->alias) return false;
    config.aliases.push_back(std::move(*entry));
    return true;
}

// A list of ALIAS=PRINTER items separated by ";", as a settings file or an installer property holds
// them: empty items are skipped; false at the first bad item.
bool add_alias_list(std::string_view list, Config& config) {
    while (!list.empty()) {
        const size_t end = std::min(list.find(';'), list.size());
        if (end > 0 && !add_alias(list.substr(0, end), config)) return false;
        list.remove_prefix(std::min(end + 1, list.size()));
    }
    return true;
}

// Flags that change the config; false when `arg` is none of them.
bool apply_flag(const std::string& arg, Config& config) {
    if (arg == "--no-open") {
        config.open_panel = false;
    } else if (arg == "--no-setup") {
        config.skip_setup = true;
    } else if (arg == "--setup") {
        config.force_setup = true;
    } else if (arg == "--autostart") {
        config.hide_console = true;
        config.open_panel = false;
    } else if (arg == "--preview") {
        config.preview = true;
    } else if (arg == "--service" || arg == "--no-console") {
        config.service_mode = true;
        config.hide_console = true;
        config.open_panel = false;
    } else {
        return false;
    }
    return true;
}

std::string option_line(std::string_view option, std::string_view description) {
    std::string line = "  " + std::string(option);
    line.resize(2 + 21, ' ');
    return line + std::string(description) + "\n";
}

}  // namespace

std::optional<std::uint16_t> parse_port(std::string_view text) {
    if (text.size() > 1 && text[0] == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 65535) return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

ScanResult scan_command_line(const std::vector<std::string>& args) {
    Config config;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool has_value = i + 1 < args.size();
        if (arg == "--printer" || arg == "--port") {
            if (!has_value) continue;
            const std::string& value = args[++i];
            if (arg == "--printer")
                config.printer = config.printer_option = printer_from_argument(value);
            else
                config.port = parse_port(value).value_or(DEFAULT_PORT);
            continue;
        }
        if (arg == "--data") {
            if (has_value) config.data_folder = args[++i];
            continue;
        }
        if (arg == "--paper") {
            const std::string value = has_value ? args[++i] : "";
            if (value != "58" && value != "80") return {RunMode::BadPaper, config};
            config.paper = value == "58" ? 58 : 80;
            continue;
        }
        if (arg == "--printer-for" || arg == "--printer-for-list") {
            if (!has_value) return {RunMode::BadPrinterFor, config};
            const std::string& value = args[++i];
            if (!(arg == "--printer-for" ? add_alias(value, config) : add_alias_list(value, config)))
                return {RunMode::BadPrinterFor, config};
            continue;
        }
        if (apply_flag(arg, config)) continue;
        for (const OneShot& one_shot : ONE_SHOTS)
            if (arg == one_shot.option) return {one_shot.mode, config};
    }
    return {config.service_mode ? RunMode::Service : RunMode::Console, config};
}

std::string help_text(bool windows) {
    const std::string port = std::to_string(DEFAULT_PORT);
    const std::string printers = windows ? "impresoras de Windows" : "impresoras";
    std::string text = std::string(APP_ID) + " " + APP_VERSION + " (build " + APP_BUILD + ") - " + APP_DESCRIPTION +
                       "\n\nUso:  " + APP_ID + (windows ? ".exe" : "") + " [opciones]\n\n" +
                       option_line("--printer \"NOMBRE\"", (windows ? "Impresora de Windows" : std::string("Impresora")) +
                                                               " a usar (por defecto: la predeterminada)") +
                       option_line("--printer-for A=N", "Impresora N con el alias A para las paginas web (repetible)") +
                       option_line("--printer-for-list L", "Varios A=N separados por ;") +
                       option_line("--port N", "Puerto local (por defecto: " + port + ")") +
                       option_line("--preview", "Impresora virtual: los tickets se ven en el panel, no se imprimen") +
                       option_line("--paper 58|80", "Ancho del papel de la impresora virtual en mm (por defecto: 80)") +
                       option_line("--data \"CARPETA\"", "Carpeta del registro de tickets") +
                       option_line("--no-open", "No abrir el panel en el navegador al arrancar");
    if (windows)
        text += option_line("--no-setup", "No hacer la puesta en marcha automatica del primer arranque") +
                option_line("--setup", "Forzar la puesta en marcha (copia + servicio) ahora") +
                option_line("--autostart", "Modo auto-arranque: sin consola y sin abrir el panel") +
                option_line("--service", "Modo servicio de Windows: sin consola, sin panel, sin abrir nada");
    else
        text += option_line("--service", "Modo servicio (systemd): sin consola, sin panel, sin abrir nada");
    text += option_line("--no-console", "Alias de --service") +
            option_line("--list", "Lista las " + printers + " y sale") + "\n";
    if (!windows) return text + option_line("-h, --help", "Esta ayuda");
    return text +
           "  INSTALAR/DESINSTALAR COMO SERVICIO (requiere administrador):\n" +
           option_line("--install", "Instala el servicio (arranca con Windows, se reinicia solo)") +
           option_line("--uninstall", "Para y elimina el servicio") +
           option_line("--service-status", "Muestra si el servicio esta instalado y su estado") +
           option_line("--start", "Arranca el servicio instalado") +
           option_line("--stop", "Para el servicio instalado") +
           "\n" +
           option_line("-h, --help", "Esta ayuda") +
           "\n"
           "  PRIMER USO: haz doble clic y listo. El vizoza se copia a " + INSTALL_DIR + "\n"
           "  intenta instalarse como servicio (pide permisos UNA vez) y arranca.\n"
           "  Si cancelas los permisos, sigue funcionando arrancando con Windows.\n";
}

}  // namespace korba
