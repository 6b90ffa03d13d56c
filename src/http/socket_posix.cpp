#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "common/system_error.h"
#include "http/socket.h"

namespace korba {

namespace {
Failure socket_failure() { return fail(system_error_text(last_system_error())); }

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    return address;
}
}  // namespace

Socket::~Socket() { close_socket(handle_); }

Result<size_t> Socket::receive(char* buffer, size_t capacity) {
    for (;;) {
        const ssize_t n = ::recv(static_cast<int>(handle_), buffer, capacity, 0);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) return socket_failure();
    }
}

Result<size_t> Socket::send(const char* data, size_t size) {
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(handle_), data, size, MSG_NOSIGNAL);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) return socket_failure();
    }
}

bool Socket::set_receive_timeout(int seconds) {
    timeval timeout{seconds, 0};
    return ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

bool Socket::shutdown_sending() { return ::shutdown(static_cast<int>(handle_), SHUT_WR) == 0; }

void init_sockets() {
    // A peer that vanishes must not kill the process through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}

Result<NativeSocket> open_loopback_listener(std::uint16_t port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return socket_failure();
    // Lets a restarted bridge take its port back while old connections linger in TIME_WAIT.
    // Unlike on Windows, it never lets a second listener share a port that one already holds.
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in address = loopback(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0) {
        const Failure failure = socket_failure();
        ::close(fd);
        return failure;
    }
    return NativeSocket{fd};
}

Result<NativeSocket> accept_connection(NativeSocket listener) {
    const int fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return socket_failure();
    return NativeSocket{fd};
}

std::uint16_t local_port(NativeSocket listener) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

Result<NativeSocket> connect_loopback(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return socket_failure();
    const sockaddr_in address = loopback(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const Failure failure = socket_failure();
        ::close(fd);
        return failure;
    }
    return NativeSocket{fd};
}

void close_socket(NativeSocket handle) { ::close(static_cast<int>(handle)); }

}  // namespace korba
