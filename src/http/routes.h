// The API's route table: request in, reply out (the caller adds the CORS headers).
#pragma once

#include "http/message.h"
#include "http/server.h"

namespace korba {

HttpResponse route_request(const HttpRequest& request, const ServerConfig& config);

}  // namespace korba
