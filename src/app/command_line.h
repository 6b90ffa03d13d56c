// The command line: one left-to-right scan into a Config and a run mode.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/constants.h"
#include "common/printer_table.h"

namespace korba {

inline constexpr int DEFAULT_PAPER = 80;

struct Config {
    std::string printer;  // empty: not given
    std::uint16_t port = DEFAULT_PORT;
    bool open_panel = true;
    bool hide_console = false;
    bool service_mode = false;
    bool skip_setup = false;
    bool force_setup = false;
    // The virtual printer instead of a spooler printer, with its paper width in millimetres.
    bool preview = false;
    int paper = DEFAULT_PAPER;
    // Where the ticket record lives, instead of the usual folder.
    std::optional<std::string> data_folder;
    // The printers beside the main one, in the order given.
    std::vector<PrinterEntry> aliases;
    // The printer as --printer gave it, before any default took its place: what an autostart
    // entry carries.
    std::string printer_option;
};

inline constexpr const char* BAD_PAPER = "ERROR: --paper solo admite 58 u 80";
inline constexpr const char* NO_SERVICE_COMMANDS =
    "ERROR: el servicio de Windows solo se puede consultar, arrancar o parar en Windows";
inline constexpr const char* BAD_PRINTER_FOR =
    "ERROR: --printer-for espera ALIAS=IMPRESORA (alias: 1 a 32 minusculas, cifras, - o _, sin repetir)";

// BadPaper: a --paper value other than 58 or 80, or none; BadPrinterFor: a --printer-for value
// that is not ALIAS=PRINTER, or an alias given twice. The scan stops there.
enum class RunMode {
    Help,
    ListPrinters,
    ServiceStatus,
    Install,
    Uninstall,
    StartService,
    StopService,
    BadPaper,
    BadPrinterFor,
    Service,
    Console
};

struct ScanResult {
    RunMode mode;
    Config config;  // the settings read before a one-shot command, or all of them
};

// `args` excludes the program's own path.
ScanResult scan_command_line(const std::vector<std::string>& args);
// Standard unsigned 16-bit reading: optional "+", digits only, at most 65535.
std::optional<std::uint16_t> parse_port(std::string_view text);
// The Windows build's text names its installer, service and .exe; the other build's leaves them out.
std::string help_text(bool windows);

}  // namespace korba
