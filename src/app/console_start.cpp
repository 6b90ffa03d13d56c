#include "app/console_start.h"

#include <memory>

#include "app/browser.h"
#include "common/console.h"
#include "common/constants.h"
#include "http/server.h"
#include "windows/install_dir.h"
#include "windows/service_control.h"

namespace korba {

namespace {

void print_already_running(std::uint16_t port) {
    print_out(BANNER_RULE);
    print_out(" KORBA Vizoza ya esta funcionando");
    print_out(BANNER_RULE);
    print_out(" El servicio esta instalado y en marcha, y ya");
    print_out(" escucha en " + panel_address(port));
    print_out("");
    print_out(" No hace falta abrir nada mas: cierra esta ventana");
    print_out(" y usa el panel desde el navegador.");
    print_out(BANNER_RULE);
}

void print_listen_error(std::uint16_t port, const std::string& error) {
    print_err("ERROR: no puedo escuchar en 127.0.0.1:" + std::to_string(port) + " (" + error + ")");
    print_err("Puede que el vizoza ya este abierto en otra ventana.");
    print_err("");
    print_err("Si no ves ninguna ventana abierta, prueba:");
    print_err("  1. Cierra cualquier 'korba-vizoza' en el Administrador de tareas");
    print_err("  2. O usa otro puerto:  korba-vizoza.exe --port 9231");
}

void print_banner(const ServerConfig& server) {
    print_out(BANNER_RULE);
    print_out(std::string(" ") + PRODUCT_NAME + " v" + APP_VERSION + " (build " + APP_BUILD + ") - listo");
    print_out(" Panel: " + panel_address(server.port));
    print_out(" Impresora: " + server.main_printer().name);
    for (const PrinterEntry& alias : server.aliases()) print_out(" Impresora " + alias.alias + ": " + alias.name);
    print_out(" (deja esta ventana abierta; cierrala para salir)");
    if (SELF_INSTALL_AVAILABLE) print_out(" Arranque automatico con Windows: boton en el panel");
    print_out(BANNER_RULE);
}

}  // namespace

std::string panel_address(std::uint16_t port) { return "http://127.0.0.1:" + std::to_string(port) + "/"; }

std::string service_status_report(const std::string& exe_path) {
    const ServiceState state = query_service();
    const bool admin = is_admin();
    std::string report = std::string("servicio: ") + SERVICE_NAME + " (" + service_state_text(state) + ")\n";
    report += std::string("admin en esta consola: ") + (admin ? "si" : "no") + "\n";
    report += "exe: " + exe_path + "\n";
    if (state == ServiceState::Absent) report += "Para instalarlo: korba-vizoza.exe --install  (como administrador)\n";
    return report;
}

bool installed_service_running() { return service_installed() && query_service() == ServiceState::Running; }

int console_start(const Config& config) {
    ServerConfig settings{config.printer, config.port, config.aliases};
    settings.printer_option = config.printer_option;
    auto server = std::make_shared<const ServerConfig>(std::move(settings));
    const Result<NativeSocket> listener = bind_listener(config.port);
    if (!listener) {
        const bool service_running = installed_service_running();
        print_out("");
        if (service_running)
            print_already_running(config.port);
        else
            print_listen_error(config.port, listener.error());
        return 0;
    }
    print_banner(*server);
    if (config.open_panel) open_in_browser(panel_address(config.port));
    run_server(listener.value(), server);
    return 0;
}

}  // namespace korba
