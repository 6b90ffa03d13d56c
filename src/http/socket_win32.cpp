#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>

#include "common/system_error.h"
#include "common/text.h"
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
constexpr size_t SEND_SLICE = 64 * 1024;

// Whether the socket became readable, or (for a connect under way) connected, within `milliseconds`.
bool ready_within(SOCKET s, bool for_reading, long milliseconds) {
    fd_set wanted;
    fd_set failed;
    FD_ZERO(&wanted);
    FD_ZERO(&failed);
    FD_SET(s, &wanted);
    FD_SET(s, &failed);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int ready = for_reading ? ::select(0, &wanted, nullptr, nullptr, &timeout)
                                  : ::select(0, nullptr, &wanted, &failed, &timeout);
    return ready > 0 && FD_ISSET(s, &wanted);
}

// A non-blocking connect awaited until `deadline`; the socket is blocking again once connected.
std::optional<NativeSocket> connect_before(const ADDRINFOW& address, std::chrono::steady_clock::time_point deadline) {
    const SOCKET s = ::WSASocketW(address.ai_family, address.ai_socktype, address.ai_protocol, nullptr, 0,
                                  WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return std::nullopt;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    u_long non_blocking = 1;
    u_long blocking = 0;
    const bool connected = ::ioctlsocket(s, FIONBIO, &non_blocking) == 0 &&
                           (::connect(s, address.ai_addr, static_cast<int>(address.ai_addrlen)) == 0 ||
                            (WSAGetLastError() == WSAEWOULDBLOCK && left.count() > 0 &&
                             ready_within(s, false, static_cast<long>(left.count())))) &&
                           ::ioctlsocket(s, FIONBIO, &blocking) == 0;
    if (!connected) {
        ::closesocket(s);
        return std::nullopt;
    }
    return static_cast<NativeSocket>(s);
}
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
    // With a time-out, a slice at a time, each once the socket takes more: Wine ignores
    // SO_SNDTIMEO on blocking sockets, and a blocking send waits until all it was given is taken.
    size_t slice = size > CHUNK_MAX ? CHUNK_MAX : size;
    if (send_timeout_seconds_ > 0) {
        const int left = send_milliseconds_left();
        if (left == 0 || !ready_within(native(handle_), false, left)) return fail(system_error_text(WSAETIMEDOUT));
        slice = std::min<size_t>(slice, SEND_SLICE);
    }
    for (;;) {
        const int n = ::send(native(handle_), data, static_cast<int>(slice), 0);
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

bool Socket::set_send_timeout(int seconds) {
    const DWORD milliseconds = static_cast<DWORD>(seconds) * 1000;
    send_timeout_seconds_ = seconds;
    return ::setsockopt(native(handle_), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&milliseconds),
                        sizeof milliseconds) == 0;
}

int open_descriptor_limit(int wanted) { return wanted; }

bool Socket::readable_within(int milliseconds) { return ready_within(native(handle_), true, milliseconds); }

bool Socket::shutdown_sending() { return ::shutdown(native(handle_), SD_SEND) == 0; }

void init_sockets() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
}

Result<NativeSocket> open_loopback_listener(std::uint16_t port, int backlog) {
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return socket_failure();
    const sockaddr_in address = loopback(port);
    // Without it, another program could bind the same port beside us (with SO_REUSEADDR) and take our requests.
    const BOOL exclusive = TRUE;
    const char* option = reinterpret_cast<const char*>(&exclusive);
    if (::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, option, sizeof exclusive) != 0 ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 || ::listen(s, backlog) != 0) {
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

std::vector<size_t> wait_readable(std::span<const NativeSocket> sockets, int milliseconds) {
    if (sockets.empty()) {  // WSAPoll refuses an empty list at once
        Sleep(milliseconds < 0 ? INFINITE : static_cast<DWORD>(milliseconds));
        return {};
    }
    std::vector<WSAPOLLFD> entries;
    entries.reserve(sockets.size());
    for (const NativeSocket s : sockets) entries.push_back({native(s), POLLRDNORM, 0});
    const int ready = ::WSAPoll(entries.data(), static_cast<ULONG>(entries.size()), milliseconds);
    std::vector<size_t> found;
    for (size_t i = 0; ready > 0 && i < entries.size(); ++i)
        if (entries[i].revents != 0) found.push_back(i);
    return found;
}

Result<size_t> receive_arrived(NativeSocket connection, char* buffer, size_t capacity) {
    // Named readable by wait_readable: what is there is taken at once.
    const int n = ::recv(native(connection), buffer, static_cast<int>(std::min<size_t>(capacity, CHUNK_MAX)), 0);
    if (n == SOCKET_ERROR) return socket_failure();
    return static_cast<size_t>(n);
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

std::optional<NativeSocket> connect_tcp(const std::string& host, std::uint16_t port, int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV;
    ADDRINFOW* found = nullptr;
    const std::u16string name = to_wide(host);
    const std::u16string service = to_wide(std::to_string(port));
    if (::GetAddrInfoW(reinterpret_cast<PCWSTR>(name.c_str()), reinterpret_cast<PCWSTR>(service.c_str()), &hints,
                       &found) != 0)
        return std::nullopt;
    std::optional<NativeSocket> connected;
    for (const ADDRINFOW* address = found; address && !connected; address = address->ai_next)
        connected = connect_before(*address, deadline);
    ::FreeAddrInfoW(found);
    return connected;
}

void close_socket(NativeSocket handle) { ::closesocket(native(handle)); }

}  // namespace korba
