#include "app/console_start.h"

#include <memory>
#include <string>

#include "common/console.h"
#include "common/constants.h"
#include "http/server.h"

namespace korba {

namespace {

void print_listen_error(std::uint16_t port, const std::string& error) {
    print_out("");
    print_err("ERROR: no puedo escuchar en 127.0.0.1:" + std::to_string(port) + " (" + error + ")");
    print_err("Puede que el vizoza ya este abierto en otra ventana.");
    print_err("");
    print_err("Si no ves ninguna ventana abierta, prueba:");
    print_err("  1. Cierra cualquier 'korba-vizoza' en el Administrador de tareas");
    print_err("  2. O usa otro puerto:  korba-vizoza.exe --port 9231");
}

void print_banner(const ServerConfig& server) {
    print_out(BANNER_RULE);
    print_out(std::string(" KORBA Vizoza v") + APP_VERSION + " (build " + APP_BUILD + ") - listo");
    print_out(" Panel: http://127.0.0.1:" + std::to_string(server.port) + "/");
    print_out(" Impresora: " + server.printer);
    print_out(" (deja esta ventana abierta; cierrala para salir)");
    print_out(" Arranque automatico con Windows: boton en el panel");
    print_out(BANNER_RULE);
}

}  // namespace

int console_start(const Config& config) {
    auto server = std::make_shared<const ServerConfig>(ServerConfig{config.printer, config.port});
    Result<NativeSocket> listener = bind_listener(config.port);
    if (!listener) {
        print_listen_error(config.port, listener.error());
        return 0;
    }
    print_banner(*server);
    run_server(listener.value(), server);
    return 0;
}

}  // namespace korba
