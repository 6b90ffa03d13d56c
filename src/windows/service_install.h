// Installing and removing our Windows service through sc: its identity, command line and recovery.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/printer_table.h"
#include "common/result.h"

namespace korba {

inline constexpr const char* SERVICE_DISPLAY_NAME = "KORBA Vizoza de impresion";
// Names the default port whatever port the service is installed with.
inline constexpr const char* SERVICE_DESCRIPTION =
    "Vizoza de impresion local USB para KORBA (tickets ESC/POS y cajon portamonedas). Escucha en 127.0.0.1:9230.";

// The command line the service manager starts: the program path in double quotes, then the service
// options; the printers' spaces become "+", which the command-line reading turns back, and a name
// that still holds a tab or a double quote is quoted by the runner's rule, so it stays one argument.
// An empty `data_folder` leaves --data out (the service's own folder).
std::string service_command_line(const std::string& exe, const std::string& printer, std::uint16_t port,
                                 std::span<const PrinterEntry> aliases = {}, const std::string& data_folder = "");

// These return the sentence for the user, as success or as error.
// Checks the rights, puts the running program into a safe C:\KORBA, then create_service.
Result<std::string> install_service(const std::string& printer, std::uint16_t port,
                                    std::span<const PrinterEntry> aliases = {}, const std::string& data_folder = "");
// The service part alone, for an administrator whose program already stands in C:\KORBA.
Result<std::string> create_service(const std::string& printer, std::uint16_t port,
                                   std::span<const PrinterEntry> aliases = {}, const std::string& data_folder = "");
Result<std::string> uninstall_service();

}  // namespace korba
