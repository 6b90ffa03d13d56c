#include <winsock2.h>
#include <ws2tcpip.h>

#include "common/system_error.h"
#include "http/socket.h"

namespace korba {

namespace {
Failure socket_failure() { return fail(system_error_text(static_cast<std::uint32_t>(WSAGetLastError()))); }

SOCKET native(NativeSocket handle) { return static_cast<SOCKET>(handle); }

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    return address;
}

constexpr int CHUNK_MAX = 1 << 30;  // send/recv take an int count
}  // namespace

Socket::~Socket() { close_socket(handle_); }

Result<size_t> Socket::receive(char* buffer, size_t capacity) {
    // Wine ignores SO_RCVTIMEO on blocking sockets, so the time-out is also kept by waiting here.
    if (timeout_seconds_ > 0) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(native(handle_), &readable);
        timeval timeout{timeout_seconds_, 0};
        const int ready = ::select(0, &readable, nullptr, nullptr, &timeout);
        if (ready == 0) return fail(system_error_text(WSAETIMEDOUT));
        if (ready == SOCKET_ERROR) return socket_failure();
    }
    const int n = ::recv(native(handle_), buffer, static_cast<int>(capacity > CHUNK_MAX ? CHUNK_MAX : capacity), 0);
    if (n == SOCKET_ERROR) return socket_failure();
    return static_cast<size_t>(n);
}

Result<size_t> Socket::send(const char* data, size_t size) {
    for (;;) {
        const int n = ::send(native(handle_), data, static_cast<int>(size > CHUNK_MAX ? CHUNK_MAX : size), 0);
        if (n != SOCKET_ERROR) return static_cast<size_t>(n);
        if (WSAGetLastError() != WSAEINTR) return socket_failure();
    }
}

bool Socket::set_receive_timeout(int seconds) {
    const DWORD milliseconds = static_cast<DWORD>(seconds) * 1000;
    timeout_seconds_ = seconds;
    return ::setsockopt(native(handle_), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&milliseconds),
                        sizeof milliseconds) == 0;
}

bool Socket::shutdown_sending() { return ::shutdown(native(handle_), SD_SEND) == 0; }

void init_sockets() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

Result<NativeSocket> open_loopback_listener(std::uint16_t port, int backlog) {
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return socket_failure();
    const sockaddr_in address = loopback(port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0) {
        const Failure failure = socket_failure();
        ::closesocket(s);
        return failure;
    }
    return static_cast<NativeSocket>(s);
}

Result<NativeSocket> accept_connection(NativeSocket listener) {
    const SOCKET s = ::accept(native(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return socket_failure();
    return static_cast<NativeSocket>(s);
}

std::uint16_t local_port(NativeSocket listener) {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(native(listener), reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
    return ntohs(address.sin_port);
}

Result<NativeSocket> connect_loopback(std::uint16_t port) {
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return socket_failure();
    const sockaddr_in address = loopback(port);
    if (::connect(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const Failure failure = socket_failure();
        ::closesocket(s);
        return failure;
    }
    return static_cast<NativeSocket>(s);
}

void close_socket(NativeSocket handle) { ::closesocket(native(handle)); }

}  // namespace korba
