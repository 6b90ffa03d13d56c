#include "http/server.h"

#include <exception>
#include <thread>

#include "common/memory.h"
#include "http/message.h"
#include "http/origin.h"
#include "http/routes.h"

namespace korba {

Result<NativeSocket> bind_listener(std::uint16_t port) { return open_loopback_listener(port, LISTEN_BACKLOG); }

void handle_connection(ByteStream& stream, const ServerConfig& config) {
    HttpRequest request;
    if (read_request(stream, request) != ReadOutcome::Request) return;
    Headers cors = cors_headers(request.origin);
    if (request.origin && !origin_allowed(*request.origin)) {
        (void)send_json_error(stream, 403, "origin no permitido", std::move(cors));
        return;
    }
    if (request.method == "OPTIONS") {
        (void)write_response(stream, {204, TEXT_TYPE, "", std::move(cors)});
        return;
    }
    HttpResponse response = route_request(request, config);
    response.extra_headers = std::move(cors);
    (void)write_response(stream, response);
}

namespace {
void serve_connection(NativeSocket handle, SharedConfig config) {
    Socket socket(handle);
    socket.set_receive_timeout(READ_TIMEOUT_SECONDS);  // without it the connection simply has no time-out
    handle_connection(socket, *config);
}
}  // namespace

void run_server(NativeSocket listener, SharedConfig config) {
    tune_memory_for_serving();
    for (;;) {
        Result<NativeSocket> accepted = accept_connection(listener);
        if (!accepted) continue;
        try {
            std::thread(serve_connection, accepted.value(), config).detach();
        } catch (const std::exception&) {
            // Out of threads: drop this one connection and keep serving the rest.
            close_socket(accepted.value());
        }
    }
}

}  // namespace korba
