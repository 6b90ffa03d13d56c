#include "http/server.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "common/memory.h"
#include "http/message.h"
#include "http/origin.h"
#include "http/routes.h"

namespace korba {

ServerConfig::ServerConfig(std::string main_printer, std::uint16_t port, std::vector<PrinterEntry> aliases)
    : port(port) {
    printers.front().name = std::move(main_printer);
    printers.insert(printers.end(), aliases.begin(), aliases.end());
}

Result<NativeSocket> bind_listener(std::uint16_t port) {
    return open_loopback_listener(port, LISTEN_BACKLOG, READ_TIMEOUT_SECONDS);
}

bool BodyBudget::take(size_t bytes) {
    size_t left = left_.load();
    do {
        if (left < bytes) return false;
    } while (!left_.compare_exchange_weak(left, left - bytes));
    return true;
}

namespace {

constexpr auto ROOM_WAIT = std::chrono::seconds(2);
constexpr auto ROOM_WAIT_STEP = std::chrono::milliseconds(10);

// The connection as a request reads it: nothing is received past the request's deadline, and once
// the body is read, each byte received is charged to the budget, all given back when the request
// ends.
class MeteredStream final : public ByteStream {
public:
    MeteredStream(ByteStream& inner, BodyBudget& budget, std::chrono::steady_clock::time_point deadline)
        : inner_(inner), budget_(budget), deadline_(deadline) {}
    ~MeteredStream() override { budget_.give_back(taken_); }
    MeteredStream(const MeteredStream&) = delete;
    MeteredStream& operator=(const MeteredStream&) = delete;

    Result<size_t> receive(char* buffer, size_t capacity) override {
        if (std::chrono::steady_clock::now() >= deadline_) return fail("la peticion tarda demasiado");
        Result<size_t> got = inner_.receive(buffer, capacity);
        if (charging_ && got && !charge(got.value())) return fail("sin memoria para el cuerpo");
        return got;
    }
    Result<size_t> send(const char* data, size_t size) override { return inner_.send(data, size); }

    // From here on what arrives is the body; `already` bytes of it came with the head.
    bool charge_body(size_t already) {
        charging_ = true;
        return charge(already);
    }
    bool over_budget() const { return over_budget_; }

private:
    // What other connections hold is mostly given back within moments (replies sent, bodies
    // printed): a body that meets a full budget waits a little for room before it is turned away.
    bool charge(size_t bytes) {
        for (auto waited = std::chrono::milliseconds(0); !budget_.take(bytes); waited += ROOM_WAIT_STEP) {
            if (waited >= ROOM_WAIT) {
                over_budget_ = true;
                return false;
            }
            std::this_thread::sleep_for(ROOM_WAIT_STEP);
        }
        taken_ += bytes;
        return true;
    }

    ByteStream& inner_;
    BodyBudget& budget_;
    const std::chrono::steady_clock::time_point deadline_;
    size_t taken_ = 0;
    bool charging_ = false;
    bool over_budget_ = false;
};

// Gives the request's share of the budget back however the request ends.
struct BudgetHold {
    BodyBudget& budget;
    size_t bytes;
    ~BudgetHold() { budget.give_back(bytes); }
};

// Replies past this size (the kept tickets of /preview, the panel's page) hold their share of the
// same budget while they are sent, so that clients that ask and never read cannot pile them up.
constexpr size_t SMALL_REPLY = 64 * 1024;

void send_busy(ByteStream& stream, std::string_view cors) {
    (void)send_json_error(stream, 503, "el vizoza esta ocupado, vuelve a intentarlo", cors);
}

// The route takes the request, and frees its body, before the caller's hold is given back.
ReadOutcome read_and_route(MeteredStream& stream, HttpRequest request, std::string_view after_head,
                           std::string_view cors, const ServerConfig& config, BodyBudget& budget) {
    if (!stream.charge_body(std::min(after_head.size(), request.content_length))) {
        send_busy(stream, cors);
        return ReadOutcome::AlreadyAnswered;
    }
    const ReadOutcome read = read_body(stream, request, after_head);
    if (read != ReadOutcome::Request) return read;
    if (request.body.size() < request.content_length) {
        // Half a ticket must never print: the peer closed, fell silent, or took too long mid-body,
        // or its bytes no longer fit in what all connections may hold.
        if (stream.over_budget()) {
            send_busy(stream, cors);
            return ReadOutcome::AlreadyAnswered;
        }
        (void)send_json_error(stream, 400, "cuerpo incompleto", cors);
        return read;
    }
    const HttpResponse response = route_request(std::move(request), config);
    const size_t held = response.body.size() > SMALL_REPLY ? response.body.size() : 0;
    if (!budget.take(held)) {
        send_busy(stream, cors);
        return read;
    }
    const BudgetHold hold{budget, held};
    (void)write_response(stream, response, cors);
    return read;
}

ReadOutcome answer_request(MeteredStream& stream, const ServerConfig& config, BodyBudget& budget,
                           size_t largest_body) {
    HttpRequest request;
    std::string after_head;
    const ReadOutcome head = read_head(stream, request, after_head);
    if (head != ReadOutcome::Request) return head;
    // Decided on the head alone: what the client still sends of its body is drained, not read.
    const ReadOutcome early =
        after_head.size() < request.content_length ? ReadOutcome::AlreadyAnswered : ReadOutcome::Request;
    const std::string cors = cors_header_lines(request.origin);
    if (request.host && !host_allowed(*request.host)) {
        (void)send_json_error(stream, 403, "host no permitido", cors);
        return early;
    }
    if (request.origin && !origin_allowed(*request.origin)) {
        (void)send_json_error(stream, 403, "origin no permitido", cors);
        return early;
    }
    if (request.method == "OPTIONS") {
        (void)write_response(stream, {204, TEXT_TYPE, "", {}}, cors);
        return early;
    }
    if (request.content_length > largest_body || body_capacity(request.content_length) > budget.left()) {
        send_busy(stream, cors);
        return early;
    }
    return read_and_route(stream, std::move(request), after_head, cors, config, budget);
}

}  // namespace

ReadOutcome handle_connection(ByteStream& stream, const ServerConfig& config, BodyBudget& budget,
                              std::chrono::steady_clock::time_point deadline, size_t largest_body) {
    try {
        MeteredStream metered(stream, budget, deadline);
        return answer_request(metered, config, budget, largest_body);
    } catch (const std::exception&) {
        // Out of memory or of threads for this request: it ends here, the process goes on.
        return ReadOutcome::NothingToSay;
    }
}

namespace {
constexpr auto DRAIN_LIMIT = std::chrono::seconds(2);
constinit BodyBudget process_bodies(BODY_BUDGET);
// Out of descriptors, a failed accept fails again at once: pause instead of spinning a core.
constexpr auto ACCEPT_RETRY_PAUSE = std::chrono::milliseconds(20);

// A request over a size limit, refused or turned away on its head, is answered before the client
// has sent all of it. Closing a
// socket with input still unread makes the system reset the connection, and the reset can
// destroy the reply before the client reads it: the client would see a broken connection
// instead of the 400. So the sending side is closed first and what the client still sends is
// read and dropped, until it closes or for two seconds at the most.
void drain_before_close(Socket& socket) {
    if (!socket.shutdown_sending()) return;
    socket.set_receive_timeout(1);
    const auto deadline = std::chrono::steady_clock::now() + DRAIN_LIMIT;
    char chunk[READ_CHUNK];
    while (std::chrono::steady_clock::now() < deadline) {
        const Result<size_t> got = socket.receive(chunk, sizeof chunk);
        if (!got || got.value() == 0) return;
    }
}

// The connections served at once: accepting waits for a free one.
class ConnectionSlots {
public:
    explicit ConnectionSlots(int capacity) : capacity_(capacity), room_(std::min(ROOM_FOR_SMALL, capacity / 4)) {}
    // Waits for a slot; whether it is one of those kept for small requests.
    bool acquire() {
        std::unique_lock lock(mutex_);
        freed_.wait(lock, [this] { return used_ < capacity_; });
        return used_++ >= capacity_ - room_;
    }
    void release() {
        {
            const std::lock_guard lock(mutex_);
            --used_;
        }
        freed_.notify_one();
    }

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    const int capacity_;
    const int room_;
    int used_ = 0;
};

struct Connection {
    NativeSocket handle;
    bool small_only;
};

// The configuration and the slots outlive every connection: run_server holds them and never returns.
void serve_connection(Connection connection, const ServerConfig* config, bool has_timeout, ConnectionSlots* slots) {
    {
        Socket socket(connection.handle);
        // Without them the connection simply has no time-outs.
        if (!has_timeout || connection.small_only) {
            const int seconds = connection.small_only ? static_cast<int>(SMALL_REQUEST_TIME.count()) : READ_TIMEOUT_SECONDS;
            socket.set_receive_timeout(seconds);
            socket.set_send_timeout(READ_TIMEOUT_SECONDS);
        }
        const auto now = std::chrono::steady_clock::now();
        const ReadOutcome outcome =
            connection.small_only
                ? handle_connection(socket, *config, process_bodies, now + SMALL_REQUEST_TIME, SMALL_BODY)
                : handle_connection(socket, *config, process_bodies, now + REQUEST_DEADLINE);
        if (outcome == ReadOutcome::AlreadyAnswered) drain_before_close(socket);
    }
    slots->release();
}

// Two descriptors a connection at the most, and some for the process itself.
int connection_capacity() {
    const int descriptors = open_descriptor_limit(OWN_DESCRIPTORS + 2 * MAX_CONNECTIONS);
    return std::clamp((descriptors - OWN_DESCRIPTORS) / 2, 4, MAX_CONNECTIONS);
}
}  // namespace

void run_server(NativeSocket listener, SharedConfig config) {
    tune_memory_for_serving();
    const bool timeout_given = accepted_receive_timeout(listener) == READ_TIMEOUT_SECONDS;
    ConnectionSlots slots(connection_capacity());
    for (;;) {
        const bool small_only = slots.acquire();
        Result<NativeSocket> accepted = accept_connection(listener);
        if (!accepted) {
            slots.release();
            std::this_thread::sleep_for(ACCEPT_RETRY_PAUSE);
            continue;
        }
        try {
            std::thread(serve_connection, Connection{accepted.value(), small_only}, config.get(), timeout_given, &slots)
                .detach();
        } catch (const std::exception&) {
            // Out of threads: drop this one connection and keep serving the rest.
            close_socket(accepted.value());
            slots.release();
        }
    }
}

}  // namespace korba
