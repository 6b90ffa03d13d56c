// The least that a server of one thread per connection does, the bridge's own design with nothing
// else in it: accept4, a detached thread with a 64 KiB stack that reads the head, writes a fixed
// 204 and closes. bench/run.sh http measures the bridge against it.
// Usage: thread_server PORT   (on 127.0.0.1, until killed)
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

constexpr std::string_view REPLY = "HTTP/1.1 204 No Content\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

void* serve(void* connection) {
    const int fd = static_cast<int>(reinterpret_cast<std::intptr_t>(connection));
    char head[8192];
    size_t size = 0;
    for (ssize_t got; size < sizeof head && (got = recv(fd, head + size, sizeof head - size, 0)) > 0;) {
        size += static_cast<size_t>(got);
        if (std::string_view(head, size).find("\r\n\r\n") != std::string_view::npos) {
            send(fd, REPLY.data(), REPLY.size(), MSG_NOSIGNAL);
            break;
        }
    }
    close(fd);
    return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 128) != 0)
        return 1;
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 64 * 1024);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        pthread_t thread;
        if (pthread_create(&thread, &attributes, serve, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd))) != 0)
            close(fd);
    }
}
