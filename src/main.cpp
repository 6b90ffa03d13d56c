// korba-vizoza: scan the command line, then run the chosen mode.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console_start.h"
#include "app/console_window.h"
#include "app/first_run_setup.h"
#include "app/install_commands.h"
#include "common/console.h"
#include "common/library_search.h"
#include "common/text.h"
#include "http/socket.h"
#include "printing/printers.h"
#include "printing/virtual_printer.h"
#include "tickets/record_file.h"
#include "tickets/ticket_book.h"
#include "windows/autostart.h"
#include "windows/install_dir.h"
#include "windows/service_control.h"
#include "windows/service_runtime.h"

namespace korba {

void print_printer_list() {
    print_out("Impresoras instaladas:");
    for (const std::string& name : list_printers()) print_out("  - " + name);
}

// One line for a one-shot service command: "OK: ..." and 0, or "ERROR: ..." and 1.
int print_outcome(const Result<std::string>& outcome) {
    if (!outcome) {
        print_err("ERROR: " + outcome.error());
        return 1;
    }
    print_out("OK: " + std::string(trim_white_space(outcome.value())));
    return 0;
}

// A preview run keeps its tickets in memory only.
void start_tickets(const Config& config) {
    if (config.preview) return start_ticket_book(std::make_unique<NoRecordFile>(), true);
    const std::optional<std::string> folder =
        ticket_folder({config.data_folder, SELF_INSTALL_AVAILABLE, config.service_mode, environment_value});
    start_ticket_book(std::make_unique<DiskRecordFile>(folder.value_or("")), false);
}

int run_program(const std::vector<std::string>& args) {
    restrict_library_search();
    ScanResult scan = scan_command_line(args);
    // Lives as long as the process serves; it wins over any --printer.
    std::optional<VirtualPrinter> preview;
    if (scan.mode == RunMode::Console || scan.mode == RunMode::Service) {
        if (scan.config.hide_console) hide_console_window();
        if (scan.config.preview) {
            use_preview_printer(&preview.emplace(scan.config.paper));
            scan.config.printer = VIRTUAL_PRINTER_NAME;
            // Each alias prints to a virtual printer of its own.
            for (PrinterEntry& alias : scan.config.aliases) {
                alias.name = preview_printer_name(alias.alias);
                preview->add_printer(alias.name);
            }
        } else {
            scan.config.printer = resolve_printer(scan.config.printer);
        }
        start_tickets(scan.config);
    }
    const bool service_command =
        scan.mode == RunMode::ServiceStatus || scan.mode == RunMode::StartService || scan.mode == RunMode::StopService;
    if (service_command && !SELF_INSTALL_AVAILABLE) {
        print_err(NO_SERVICE_COMMANDS);
        return 1;
    }
    switch (scan.mode) {
        case RunMode::Help:
            write_stdout(help_text(SELF_INSTALL_AVAILABLE));
            return 0;
        case RunMode::ListPrinters:
            print_printer_list();
            return 0;
        case RunMode::ServiceStatus:
            write_stdout(service_status_report(current_exe_path()));
            return 0;
        case RunMode::Install:
            return print_outcome(install_command(scan.config));
        case RunMode::Uninstall:
            return print_outcome(uninstall_command());
        case RunMode::StartService:
            return print_outcome(start_service());
        case RunMode::StopService:
            return print_outcome(stop_service());
        case RunMode::BadPaper:
            print_err(BAD_PAPER);
            return 1;
        case RunMode::BadPrinterFor:
            print_err(BAD_PRINTER_FOR);
            return 1;
        case RunMode::Service:
            init_sockets();
            return run_as_service(scan.config.printer, scan.config.port, scan.config.aliases);
        case RunMode::Console:
            break;
    }
    if (SELF_INSTALL_AVAILABLE && setup_wanted(scan.config))
        first_run_setup(scan.config.printer, scan.config.port, scan.config.aliases, scan.config.printer_option);
    init_sockets();
    return console_start(scan.config);
}

}  // namespace korba

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(korba::from_wide(reinterpret_cast<const char16_t*>(argv[i])));
    return korba::run_program(args);
}
#else
int main(int argc, char** argv) { return korba::run_program(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
