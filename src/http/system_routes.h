// Routes about the bridge itself: the panel page, its status and the autostart switch.
#pragma once

#include "http/message.h"
#include "http/server.h"

namespace korba {

HttpResponse serve_panel(const HttpRequest& request, const ServerConfig& config);
HttpResponse get_status(const HttpRequest& request, const ServerConfig& config);
HttpResponse post_startup(const HttpRequest& request, const ServerConfig& config);

}  // namespace korba
