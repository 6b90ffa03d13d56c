#include "http/routes.h"

#include <span>
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

// Routes that act on one printer: the request's `printer` parameter chooses it.
struct PrinterRoute {
    const char* method;
    const char* path;
    HttpResponse (*handle)(HttpRequest, const ServerConfig&, const PrinterEntry&);
    bool (*available)() = nullptr;
};

const PrinterRoute PRINTER_ROUTES[] = {
    {"GET", "/status", get_status},
    {"POST", "/raw", raw_route},
    {"POST", "/pulse", pulse_route},
    {"GET", "/queue", queue_route},
    {"GET", "/device", device_route},
    {"GET", "/preview", preview_route, preview_run},
};

template <class Table>
const Table* find_route(const HttpRequest& request, std::span<const Table> table) {
    for (const Table& route : table)
        if (request.method == route.method && request.path == route.path && (!route.available || route.available()))
            return &route;
    return nullptr;
}

const Route ROUTES[] = {
    {"GET", "/", serve_panel},
    {"GET", "/index.html", serve_panel},
    {"GET", "/favicon.ico", favicon},
    {"GET", "/startup", get_startup},
    {"POST", "/startup", post_startup},
    {"GET", "/printers", printers_route},
    {"GET", "/tickets", tickets_route},
    {"POST", "/tickets/cancel", cancel_route},
};

}  // namespace

HttpResponse route_request(HttpRequest request, const ServerConfig& config) {
    if (const Route* route = find_route<Route>(request, ROUTES)) return route->handle(std::move(request), config);
    if (const PrinterRoute* route = find_route<PrinterRoute>(request, PRINTER_ROUTES)) {
        // Refused before anything is printed or asked of the spooler.
        const PrinterEntry* printer = requested_printer(request.query, config);
        if (!printer) return json_error(400, "impresora no configurada");
        return route->handle(std::move(request), config, *printer);
    }
    return json_error(404, "ruta no encontrada");
}

}  // namespace korba
