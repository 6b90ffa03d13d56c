// The printing routes: the printer list, a raw ticket, the drawer pulse, the queue's state and
// what the printer itself reports, the tickets sent, and the tickets of the virtual printer.
#pragma once

#include "http/message.h"
#include "http/server.h"

namespace korba {

HttpResponse json_error(std::uint16_t status, std::string_view message);
// The printer that a request's `printer` query value names: the main printer when it is absent or
// empty, an alias's printer, or nullptr for anything else.
const PrinterEntry* requested_printer(std::string_view query, const ServerConfig& config);
HttpResponse printers_route(HttpRequest request, const ServerConfig& config);
// The routes that act on one printer get the one the request chose.
HttpResponse raw_route(HttpRequest request, const ServerConfig& config, const PrinterEntry& printer);
HttpResponse pulse_route(HttpRequest request, const ServerConfig& config, const PrinterEntry& printer);
HttpResponse queue_route(HttpRequest request, const ServerConfig& config, const PrinterEntry& printer);
HttpResponse device_route(HttpRequest request, const ServerConfig& config, const PrinterEntry& printer);
// One ticket by its id, or the newest ones.
HttpResponse tickets_route(HttpRequest request, const ServerConfig& config);
// Deletes a ticket's job that has not begun printing.
HttpResponse cancel_route(HttpRequest request, const ServerConfig& config);
// Only for a preview run (preview_printer() set).
HttpResponse preview_route(HttpRequest request, const ServerConfig& config, const PrinterEntry& printer);

}  // namespace korba
