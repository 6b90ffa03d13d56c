#include "windows/service_install.h"

#include "common/constants.h"
#include "windows/browser_policy.h"
#include "windows/command_runner.h"
#include "windows/install_dir.h"
#include "windows/service_control.h"
#include "windows/win_command_line.h"

namespace korba {

namespace {

bool is_stopped(ServiceState state) { return state == ServiceState::Stopped; }
bool is_running(ServiceState state) { return state == ServiceState::Running; }

void stop_and_wait() {
    (void)stop_service();
    wait_for_service(is_stopped, STOP_WAIT_CHECKS);
}

// binPath is one argument written by the runner's quoting rule, so that sc receives the command
// line with the program path still in its double quotes.
std::string create_line(const std::string& command_line) {
    return std::string("create ") + SERVICE_NAME + " start= auto binPath= " + quote_argument(command_line, true) +
           " DisplayName= \"" + SERVICE_DISPLAY_NAME + "\"";
}

}  // namespace

std::string service_command_line(const std::string& exe, const std::string& printer, std::uint16_t port,
                                 std::span<const PrinterEntry> aliases, const std::string& data_folder) {
    std::string line = '"' + exe + "\" --service --no-console";
    for (const std::string& option : printer_options(printer, aliases)) line += " " + quote_argument(option);
    if (port != DEFAULT_PORT) line += " --port " + std::to_string(port);
    if (!data_folder.empty()) line += " --data " + quote_argument(data_folder);
    return line;
}

Result<std::string> install_service(const std::string& printer, std::uint16_t port,
                                    std::span<const PrinterEntry> aliases, const std::string& data_folder) {
    if (!is_admin())
        return fail(
            "Se necesitan permisos de administrador. Cierra y vuelve a ejecutar el instalador con «Ejecutar como "
            "administrador».");
    // The folder is made safe before the copy lands in it, so that no user can swap the program that runs as SYSTEM.
    if (Result<CopyOutcome> copy = copy_to_install_dir(); !copy) return fail(copy.error());
    return create_service(printer, port, aliases, data_folder);
}

Result<std::string> create_service(const std::string& printer, std::uint16_t port,
                                   std::span<const PrinterEntry> aliases, const std::string& data_folder) {
    // Recreated from scratch, never reconfigured in place.
    if (service_installed()) {
        stop_and_wait();
        (void)delete_service();
    }
    if (Result<std::string> created =
            run_sc_line(create_line(service_command_line(INSTALL_EXE, printer, port, aliases, data_folder)));
        !created)
        return fail("sc create falló: " + created.error());
    (void)run_sc({"description", SERVICE_NAME, SERVICE_DESCRIPTION});
    (void)run_sc({"failure", SERVICE_NAME, "reset=", "86400", "actions=", "restart/5000/restart/10000/restart/30000"});
    if (Result<std::string> started = start_service(); !started)
        return fail("servicio creado pero no arrancó: " + started.error());
    wait_for_service(is_running, START_WAIT_CHECKS);
    if (query_service() != ServiceState::Running)
        return fail("El servicio se instaló pero no llegó a arrancar. Revisa el Visor de eventos.");
    // Spares the shop the browsers' permission prompt for the application's pages; without it the
    // service still works, once each browser has been allowed by hand.
    (void)allow_app_origins();
    return "Servicio instalado y en marcha (impresora: " + (printer.empty() ? "predeterminada" : printer) + ").";
}

Result<std::string> uninstall_service() {
    if (!is_admin()) return fail("Se necesitan permisos de administrador para desinstalar el servicio.");
    if (!service_installed()) return std::string("El servicio no estaba instalado.");
    stop_and_wait();
    if (Result<std::string> deleted = delete_service(); !deleted) return fail("sc delete falló: " + deleted.error());
    (void)remove_app_origins();
    return std::string("Servicio detenido y eliminado.");
}

}  // namespace korba
