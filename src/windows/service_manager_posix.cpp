// The service manager's stand-in on POSIX: the systemd notify protocol. NOTIFY_SOCKET marks a
// start by the manager, status reports become READY=1 / STOPPING=1, and SIGTERM is the stop control.
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "windows/service_runtime.h"

namespace korba {

namespace {
class NotifyServiceManager final : public ServiceManager {
public:
    Status run_dispatcher(const std::string&, ServiceMainFunction service_main) override {
        const char* path = std::getenv("NOTIFY_SOCKET");
        if (path == nullptr || *path == '\0') return fail("NOTIFY_SOCKET is not set");
        // SIGTERM is taken with sigwait on this thread only, as the dispatcher takes controls.
        sigset_t stop_signal, previous;
        sigemptyset(&stop_signal);
        sigaddset(&stop_signal, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop_signal, &previous);
        const pthread_t dispatcher = pthread_self();
        std::atomic<bool> finished{false};
        std::thread service([&] {
            service_main();
            finished = true;
            pthread_kill(dispatcher, SIGTERM);
        });
        for (;;) {
            int signal_number = 0;
            sigwait(&stop_signal, &signal_number);
            if (finished) break;
            if (handler_ != nullptr) handler_(CONTROL_STOP);
        }
        service.join();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return success();
    }

    StatusHandle register_handler(const std::string&, ControlHandlerFunction handler) override {
        const char* path = std::getenv("NOTIFY_SOCKET");
        const size_t length = path ? std::strlen(path) : 0;
        if (length == 0 || length >= sizeof address_.sun_path) return 0;
        address_.sun_family = AF_UNIX;
        std::memcpy(address_.sun_path, path, length);
        if (path[0] == '@') address_.sun_path[0] = '\0';  // abstract namespace
        address_length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return 0;
        handler_ = handler;
        return static_cast<StatusHandle>(fd) + 1;
    }

    void set_status(StatusHandle handle, const ServiceStatusReport& report) override {
        std::string_view message;
        if (report.current_state == STATE_RUNNING) message = "READY=1";
        if (report.current_state == STATE_STOP_PENDING || report.current_state == STATE_STOPPED) message = "STOPPING=1";
        if (message.empty()) return;
        ::sendto(static_cast<int>(handle - 1), message.data(), message.size(), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&address_), address_length_);
    }

private:
    std::atomic<ControlHandlerFunction> handler_{nullptr};
    sockaddr_un address_{};
    socklen_t address_length_ = 0;
};
}  // namespace

ServiceManager& system_service_manager() {
    static NotifyServiceManager manager;
    return manager;
}

}  // namespace korba
