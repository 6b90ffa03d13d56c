#include "printing/device_query.h"

#include <condition_variable>
#include <system_error>
#include <thread>
#include <utility>

#include "http/message.h"
#include "http/socket.h"

namespace korba {

namespace {

int milliseconds_of(std::chrono::milliseconds wait) { return static_cast<int>(wait.count()); }

class SocketLink final : public DeviceLink {
public:
    explicit SocketLink(NativeSocket handle) : socket_(handle) {}
    bool send(std::string_view bytes) override { return send_all(socket_, bytes).ok(); }
    std::string receive(size_t most, std::chrono::milliseconds wait) override {
        char buffer[STATUS_REPLY_SIZE];
        if (most > sizeof buffer) most = sizeof buffer;
        if (!socket_.readable_within(milliseconds_of(wait))) return {};
        const Result<size_t> received = socket_.receive(buffer, most);
        return received ? std::string(buffer, received.value()) : std::string();
    }

private:
    Socket socket_;
};

class SocketConnector final : public DeviceConnector {
public:
    std::unique_ptr<DeviceLink> connect(const DeviceAddress& address, std::chrono::milliseconds wait) override {
        const std::optional<NativeSocket> handle = connect_within(connect_tcp, address, wait);
        if (!handle) return nullptr;
        return std::make_unique<SocketLink>(*handle);
    }
};

// The four bytes as they come, in as many pieces as they come, all within one wait.
std::string status_reply(DeviceLink& link, const SteadyClock& now) {
    std::string reply;
    if (!link.send(STATUS_REQUEST)) return reply;
    const auto deadline = now() + DEVICE_ANSWER_WAIT;
    while (reply.size() < STATUS_REPLY_SIZE) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now());
        if (left.count() <= 0) break;
        const std::string piece = link.receive(STATUS_REPLY_SIZE - reply.size(), left);
        if (piece.empty()) break;
        reply += piece;
    }
    return reply;
}

// What the connecting thread hands over, unless its caller stopped waiting.
struct Attempt {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    std::optional<NativeSocket> socket;
};

}  // namespace

std::optional<NativeSocket> connect_within(const TcpConnect& connect, const DeviceAddress& address,
                                           std::chrono::milliseconds wait) {
    const auto attempt = std::make_shared<Attempt>();
    try {
        std::thread([attempt, connect, address, wait] {
            const std::optional<NativeSocket> socket = connect(address.host, address.port, milliseconds_of(wait));
            const std::lock_guard<std::mutex> lock(attempt->mutex);
            if (attempt->abandoned) {
                if (socket) close_socket(*socket);
                return;
            }
            attempt->socket = socket;
            attempt->done = true;
            attempt->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return connect(address.host, address.port, milliseconds_of(wait));  // out of threads: here, then
    }
    std::unique_lock<std::mutex> lock(attempt->mutex);
    if (!attempt->finished.wait_for(lock, wait, [&] { return attempt->done; })) attempt->abandoned = true;
    return attempt->socket;
}

DeviceReport ask_device(const DeviceAddress& address, DeviceConnector& connector, const SteadyClock& now) {
    DeviceReport report{"unreachable", address_text(address), std::nullopt};
    const std::unique_ptr<DeviceLink> link = connector.connect(address, DEVICE_CONNECT_WAIT);
    if (!link) return report;
    // A printer busy with another connection answers nothing; a wrong byte is no answer either.
    report.status = decode_device_status(status_reply(*link, now));
    report.state = report.status ? device_state(*report.status) : "no-answer";
    return report;
}

DeviceMonitor::DeviceMonitor(DeviceConnector& connector, SteadyClock now)
    : connector_(connector), now_(std::move(now)) {}

DeviceReport DeviceMonitor::read(const std::string& printer) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (last_ && last_->printer == printer && now_() - last_->ended < DEVICE_ANSWER_REUSED_FOR)
        return last_->report;
    const std::optional<DeviceAddress> address = printer_address(printer);
    DeviceReport report = address ? ask_device(*address, connector_, now_) : DeviceReport{"not-network", {}, {}};
    last_ = Answer{printer, report, now_()};
    return report;
}

DeviceReport read_device(const std::string& printer) {
    static SocketConnector connector;
    static DeviceMonitor monitor(connector, [] { return std::chrono::steady_clock::now(); });
    return monitor.read(printer);
}

}  // namespace korba
