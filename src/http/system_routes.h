// Routes about the bridge itself: the panel page, its status and the autostart switch.
#pragma once

#include "http/message.h"
#include "http/server.h"

namespace korba {

HttpResponse serve_panel(HttpRequest request, const ServerConfig& config);
HttpResponse get_status(HttpRequest request, const ServerConfig& config, const PrinterEntry& printer);
// Whether the autostart entry is on, and whether this build can switch it at all.
HttpResponse get_startup(HttpRequest request, const ServerConfig& config);
HttpResponse post_startup(HttpRequest request, const ServerConfig& config);

}  // namespace korba
