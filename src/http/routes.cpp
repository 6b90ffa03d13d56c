#include "http/routes.h"

#include <utility>

#include "http/print_routes.h"
#include "http/system_routes.h"
#include "printing/virtual_printer.h"

namespace korba {

namespace {

HttpResponse favicon(HttpRequest, const ServerConfig&) { return {204, TEXT_TYPE, "", {}}; }

bool preview_run() { return preview_printer() != nullptr; }

struct Route {
    const char* method;
    const char* path;
    HttpResponse (*handle)(HttpRequest, const ServerConfig&);
    // A route of a capability the run may lack; without it the path has no route.
    bool (*available)() = nullptr;
};

const Route ROUTES[] = {
    {"GET", "/", serve_panel},
    {"GET", "/index.html", serve_panel},
    {"GET", "/favicon.ico", favicon},
    {"GET", "/status", get_status},
    {"POST", "/startup", post_startup},
    {"GET", "/printers", printers_route},
    {"POST", "/raw", raw_route},
    {"POST", "/pulse", pulse_route},
    {"GET", "/queue", queue_route},
    {"GET", "/device", device_route},
    {"GET", "/tickets", tickets_route},
    {"GET", "/preview", preview_route, preview_run},
};

}  // namespace

HttpResponse route_request(HttpRequest request, const ServerConfig& config) {
    for (const Route& route : ROUTES)
        if (request.method == route.method && request.path == route.path && (!route.available || route.available()))
            return route.handle(std::move(request), config);
    return json_error(404, "ruta no encontrada");
}

}  // namespace korba
