// The API's route table: request in, reply out (the caller puts the CORS headers before the
// route's own). A route owns its request: the raw route decodes the ticket over the body's own
// bytes.
#pragma once

#include "http/message.h"
#include "http/server.h"

namespace korba {

HttpResponse route_request(HttpRequest request, const ServerConfig& config);

}  // namespace korba
