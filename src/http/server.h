// The loopback listener and one detached thread per connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/result.h"
#include "http/message.h"
#include "http/socket.h"

namespace korba {

inline constexpr int LISTEN_BACKLOG = 128;
inline constexpr int READ_TIMEOUT_SECONDS = 10;

// Settled once at start; shared read-only by every connection thread.
struct ServerConfig {
    std::string printer;
    std::uint16_t port = 0;
};

using SharedConfig = std::shared_ptr<const ServerConfig>;

Result<NativeSocket> bind_listener(std::uint16_t port);
// Accepts for the rest of the process; never returns (a failed accept is retried after a pause).
void run_server(NativeSocket listener, SharedConfig config);
// One request, one reply, on the calling thread. The caller closes the stream. The outcome
// tells whether the head was read whole or cut short (and then answered or not). An exception
// (memory, threads) ends the request without a reply and does not leave this call.
ReadOutcome handle_connection(ByteStream& stream, const ServerConfig& config);

}  // namespace korba
