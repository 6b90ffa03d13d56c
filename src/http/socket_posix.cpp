#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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

// poll's answer for one socket, retried when a signal interrupts it.
int poll_one(int fd, short events, int milliseconds) {
    pollfd entry{fd, events, 0};
    int ready;
    do ready = ::poll(&entry, 1, milliseconds);
    while (ready < 0 && errno == EINTR);
    return ready;
}

// A non-blocking connect awaited until `deadline`; the socket is blocking again once connected.
std::optional<NativeSocket> connect_before(const addrinfo& address, std::chrono::steady_clock::time_point deadline) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol);
    if (fd < 0) return std::nullopt;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    int error = 0;
    socklen_t length = sizeof error;
    const bool connected =
        ::connect(fd, address.ai_addr, address.ai_addrlen) == 0 ||
        (errno == EINPROGRESS && left.count() > 0 && poll_one(fd, POLLOUT, static_cast<int>(left.count())) == 1 &&
         ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0);
    if (!connected || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    return NativeSocket{fd};
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
    // With a time-out, whatever the socket takes now, waiting only while it takes nothing.
    const int waiting = send_timeout_seconds_ > 0 ? MSG_DONTWAIT : 0;
    for (;;) {
        const int left = send_milliseconds_left();
        if (left == 0) return fail(system_error_text(ETIMEDOUT));
        const ssize_t n = ::send(static_cast<int>(handle_), data, size, MSG_NOSIGNAL | waiting);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno == EINTR) continue;
        if (!waiting || (errno != EAGAIN && errno != EWOULDBLOCK)) return socket_failure();
        if (poll_one(static_cast<int>(handle_), POLLOUT, left) == 0) return fail(system_error_text(ETIMEDOUT));
    }
}

bool Socket::set_receive_timeout(int seconds) {
    timeval timeout{seconds, 0};
    return ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

bool Socket::set_send_timeout(int seconds) {
    send_timeout_seconds_ = seconds;
    timeval timeout{seconds, 0};
    return ::setsockopt(static_cast<int>(handle_), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) == 0;
}

bool Socket::readable_within(int milliseconds) {
    return poll_one(static_cast<int>(handle_), POLLIN, milliseconds) == 1;
}

bool Socket::shutdown_sending() { return ::shutdown(static_cast<int>(handle_), SHUT_WR) == 0; }

void init_sockets() {
    // A peer that vanishes must not kill the process through SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
}

int open_descriptor_limit(int wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return wanted;
    const rlim_t goal = static_cast<rlim_t>(wanted);
    if (limit.rlim_cur < goal) {
        limit.rlim_cur = limit.rlim_max == RLIM_INFINITY ? goal : std::min(goal, limit.rlim_max);
        (void)::setrlimit(RLIMIT_NOFILE, &limit);
        (void)::getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur >= goal ? wanted : static_cast<int>(limit.rlim_cur);
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
    int fd;
    // EAGAIN: the client that was waiting gave up before it was accepted.
    do fd = ::accept4(static_cast<int>(listener), nullptr, nullptr, SOCK_CLOEXEC);
    while (fd < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
    if (fd < 0) return socket_failure();
    return NativeSocket{fd};
}

std::vector<size_t> wait_readable(std::span<const NativeSocket> sockets, int milliseconds) {
    std::vector<pollfd> entries;
    entries.reserve(sockets.size());
    for (const NativeSocket s : sockets) entries.push_back({static_cast<int>(s), POLLIN, 0});
    int ready;
    do ready = ::poll(entries.data(), entries.size(), milliseconds);
    while (ready < 0 && errno == EINTR);
    std::vector<size_t> found;
    for (size_t i = 0; ready > 0 && i < entries.size(); ++i)
        if (entries[i].revents != 0) found.push_back(i);
    return found;
}

Result<size_t> receive_arrived(NativeSocket connection, char* buffer, size_t capacity) {
    const ssize_t n = ::recv(static_cast<int>(connection), buffer, capacity, MSG_DONTWAIT);
    if (n < 0) return socket_failure();
    return static_cast<size_t>(n);
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

std::optional<NativeSocket> connect_tcp(const std::string& host, std::uint16_t port, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) return std::nullopt;
    std::optional<NativeSocket> connected;
    for (const addrinfo* address = found; address && !connected; address = address->ai_next)
        connected = connect_before(*address, deadline);
    ::freeaddrinfo(found);
    return connected;
}

void close_socket(NativeSocket handle) { ::close(static_cast<int>(handle)); }

}  // namespace korba
