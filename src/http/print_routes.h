// The printing routes: the printer list, a raw ticket, the drawer pulse and the queue's state.
#pragma once

#include "http/message.h"
#include "http/server.h"

namespace korba {

HttpResponse printers_route(const HttpRequest& request, const ServerConfig& config);
HttpResponse raw_route(const HttpRequest& request, const ServerConfig& config);
HttpResponse pulse_route(const HttpRequest& request, const ServerConfig& config);
HttpResponse queue_route(const HttpRequest& request, const ServerConfig& config);

}  // namespace korba
