// The thin socket layer: a loopback TCP listener, byte streams over accepted connections, and
// outgoing connections to a network printer. Implemented in socket_posix.cpp and socket_win32.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/result.h"

namespace korba {

using NativeSocket = std::intptr_t;

// What the request reader and reply writer need of a connection; tests fake it.
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Bytes received (0: the peer closed), or the system error (a time-out included).
    virtual Result<size_t> receive(char* buffer, size_t capacity) = 0;
    // Bytes sent (0 ends a write as an error), or the system error; interruptions are retried.
    virtual Result<size_t> send(const char* data, size_t size) = 0;
};

// An owned connected socket; closed when destroyed.
class Socket final : public ByteStream {
public:
    explicit Socket(NativeSocket handle) : handle_(handle) {}
    ~Socket() override;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    Result<size_t> receive(char* buffer, size_t capacity) override;
    Result<size_t> send(const char* data, size_t size) override;
    bool set_receive_timeout(int seconds);
    // Sending fails once `seconds` have passed since the first send: a client that never reads
    // its reply lets go of the connection and of the reply's memory, however little it reads.
    bool set_send_timeout(int seconds);
    // Whether bytes, or the end of the stream, can be received within `milliseconds`.
    bool readable_within(int milliseconds);
    // Tells the peer that nothing more will be sent (it reads the end of the stream).
    bool shutdown_sending();

private:
    // Milliseconds left for sending, the time-out counted from the first call; -1 without a time-out.
    int send_milliseconds_left();

    NativeSocket handle_;
    int timeout_seconds_ = 0;  // 0: wait for ever
    int send_timeout_seconds_ = 0;
    std::int64_t send_deadline_ms_ = 0;  // steady clock; 0 until the first send with a time-out
};

// Starts the platform's socket library once per process (WSAStartup on Windows).
void init_sockets();
// A listening IPv4 socket on 127.0.0.1:port; the system error of socket, bind or listen.
Result<NativeSocket> open_loopback_listener(std::uint16_t port, int backlog);
Result<NativeSocket> accept_connection(NativeSocket listener);
// The positions in `sockets` of those that can be read without waiting (bytes, the end of the
// stream, an error; for a listener, a connection to accept), after waiting up to `milliseconds`
// for one (-1: for ever).
std::vector<size_t> wait_readable(std::span<const NativeSocket> sockets, int milliseconds);
// What has arrived on a connection, without waiting for more (0: the peer closed); call it once
// wait_readable has named the connection.
Result<size_t> receive_arrived(NativeSocket connection, char* buffer, size_t capacity);
// The port a listener really holds (useful when bound to port 0).
std::uint16_t local_port(NativeSocket listener);
Result<NativeSocket> connect_loopback(std::uint16_t port);
// A blocking TCP connection to `host` (a name or an address) within `milliseconds`, trying each
// address the name stands for in the time left; nullopt when none connects in time.
std::optional<NativeSocket> connect_tcp(const std::string& host, std::uint16_t port, int milliseconds);
void close_socket(NativeSocket handle);
// How many descriptors the process may hold open, its soft limit first raised towards `wanted`
// where the hard limit allows (POSIX); `wanted` where sockets are not counted so (Windows).
int open_descriptor_limit(int wanted);

}  // namespace korba
