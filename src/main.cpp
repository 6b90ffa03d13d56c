// korba-vizoza: scan the command line, then run the chosen mode.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/console_start.h"
#include "common/console.h"
#include "common/text.h"
#include "http/socket.h"
#include "printing/printers.h"

namespace korba {

void print_printer_list() {
    print_out("Impresoras instaladas:");
    for (const std::string& name : list_printers()) print_out("  - " + name);
}

int run_program(const std::vector<std::string>& args) {
    ScanResult scan = scan_command_line(args);
    if (scan.mode == RunMode::Console || scan.mode == RunMode::Service)
        scan.config.printer = resolve_printer(scan.config.printer);
    switch (scan.mode) {
        case RunMode::Help:
            write_stdout(help_text());
            return 0;
        case RunMode::ListPrinters:
            print_printer_list();
            return 0;
        case RunMode::Console:
            init_sockets();
            return console_start(scan.config);
        default:
            print_err("ERROR: esta orden todavia no esta disponible en esta version");
            return 1;
    }
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
