// The loopback listener, and one detached thread per connection served.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "common/printer_table.h"
#include "common/result.h"
#include "http/message.h"
#include "http/socket.h"

namespace korba {

inline constexpr int LISTEN_BACKLOG = 128;
inline constexpr int READ_TIMEOUT_SECONDS = 10;
// Head and body together: a page's request crosses loopback in milliseconds, and a client that
// trickles its request holds a connection no longer than this (and one read time-out).
inline constexpr auto REQUEST_DEADLINE = std::chrono::seconds(30);

// At most this many connections are served at once (a thread each); fewer when the process may
// not open the descriptors they need. A connection is served once its head is whole: until then it
// waits without a thread, up to MAX_WAITING of them, and when they are all taken the one silent
// the longest gives way to the next after GIVE_WAY_AFTER. The last of the served are kept for small
// requests: a request there must send its body within a second and announce at most 64 KiB of it,
// as the page's do, so that clients that hold connections open cannot keep the page out.
inline constexpr int MAX_CONNECTIONS = 128;
inline constexpr int MAX_WAITING = 1024;
inline constexpr auto GIVE_WAY_AFTER = std::chrono::milliseconds(250);
inline constexpr int ROOM_FOR_SMALL = 32;
inline constexpr size_t SMALL_BODY = 64 * 1024;
inline constexpr auto SMALL_REQUEST_TIME = std::chrono::seconds(1);
// Descriptors of the process itself: standard streams, listener, ticket record, libraries.
inline constexpr int OWN_DESCRIPTORS = 32;

// Settled once at start; shared read-only by every connection thread.
struct ServerConfig {
    ServerConfig() = default;
    ServerConfig(std::string main_printer, std::uint16_t port, std::vector<PrinterEntry> aliases = {});

    // The main printer first, then the aliases in the command line's order.
    std::vector<PrinterEntry> printers{PrinterEntry{}};
    std::uint16_t port = 0;
    // The printer as --printer gave it (empty when the default was taken): what an autostart entry carries.
    std::string printer_option;

    const PrinterEntry& main_printer() const { return printers.front(); }
    std::span<const PrinterEntry> aliases() const { return std::span(printers).subspan(1); }
};

using SharedConfig = std::shared_ptr<const ServerConfig>;

// Memory for request bodies and large replies, shared by all connections: a local program that
// opens connection after connection sending large bodies must not run the whole PC out of memory.
// A request's body is charged as its bytes arrive, and held until the request ends; a request
// whose announced body does not fit in what is left, or whose bytes stop fitting, is turned away
// as busy. Announcing a body without sending it holds nothing.
inline constexpr size_t BODY_BUDGET = 64 * 1024 * 1024;

class BodyBudget {
public:
    constexpr explicit BodyBudget(size_t bytes) : left_(bytes) {}
    // False, taking nothing, when fewer than `bytes` are left.
    bool take(size_t bytes);
    void give_back(size_t bytes) { left_ += bytes; }
    size_t left() const { return left_.load(); }

private:
    std::atomic<size_t> left_;
};

Result<NativeSocket> bind_listener(std::uint16_t port);
// Accepts for the rest of the process; never returns (a failed accept is retried after a pause).
void run_server(NativeSocket listener, SharedConfig config);
// One request, one reply, on the calling thread, its body taken from `budget`. The caller closes
// the stream, after draining it when the outcome is AlreadyAnswered. An exception (memory,
// threads) ends the request without a reply and does not leave this call.
// Nothing more is received once `deadline` has passed: a head not whole by then gets no reply, a
// body cut short there is refused as one cut short.
// `largest_body`: what a request may announce on a connection kept for small requests; more is
// turned away as busy (elsewhere the body limit answers it). `received`: what came from the
// connection before (its head, at least in part), read first whatever the deadline.
ReadOutcome handle_connection(ByteStream& stream, const ServerConfig& config, BodyBudget& budget,
                              std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() +
                                                                               REQUEST_DEADLINE,
                              size_t largest_body = SIZE_MAX, std::string received = {});

}  // namespace korba
