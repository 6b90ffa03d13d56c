// The printing routes: the printer list, a raw ticket, the drawer pulse, the queue's state and
// what the printer itself reports, the tickets sent, and the tickets of the virtual printer.
#pragma once

#include "http/message.h"
#include "http/server.h"

namespace korba {

HttpResponse json_error(std::uint16_t status, std::string_view message);
HttpResponse printers_route(HttpRequest request, const ServerConfig& config);
HttpResponse raw_route(HttpRequest request, const ServerConfig& config);
HttpResponse pulse_route(HttpRequest request, const ServerConfig& config);
HttpResponse queue_route(HttpRequest request, const ServerConfig& config);
HttpResponse device_route(HttpRequest request, const ServerConfig& config);
// One ticket by its id, or the newest ones.
HttpResponse tickets_route(HttpRequest request, const ServerConfig& config);
// Only for a preview run (preview_printer() set).
HttpResponse preview_route(HttpRequest request, const ServerConfig& config);

}  // namespace korba
