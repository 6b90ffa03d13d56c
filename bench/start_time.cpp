// Start-up time: from spawning the program to its first answered request, repeated.
// Usage: start_time RUNS PROGRAM ARGS...   (the program must take --port, given here)
// Prints the milliseconds of each run, one a line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

int free_port() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return ntohs(address.sin_port);
}

// One GET /favicon.ico; true when a whole reply came back.
bool answered(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = false;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET /favicon.ico HTTP/1.1\r\n\r\n";
        char reply[4096];
        if (send(fd, request, sizeof request - 1, 0) > 0) ok = recv(fd, reply, sizeof reply, 0) > 12;
    }
    close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: start_time RUNS PROGRAM ARGS...\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    for (int run = 0; run < runs; ++run) {
        const int port = free_port();
        const std::string port_text = std::to_string(port);
        std::vector<char*> args(argv + 2, argv + argc);
        args.push_back(const_cast<char*>("--port"));
        args.push_back(const_cast<char*>(port_text.c_str()));
        args.push_back(nullptr);
        const auto started = std::chrono::steady_clock::now();
        pid_t pid = 0;
        posix_spawn_file_actions_t quiet;
        posix_spawn_file_actions_init(&quiet);
        for (int fd = 0; fd <= 2; ++fd) posix_spawn_file_actions_addopen(&quiet, fd, "/dev/null", O_RDWR, 0);
        const int spawned = posix_spawn(&pid, args[0], &quiet, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&quiet);
        if (spawned != 0) return 1;
        while (!answered(port)) usleep(100);
        const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
        std::printf("%.3f\n", took.count());
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    return 0;
}
