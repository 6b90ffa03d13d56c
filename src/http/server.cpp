#include "http/server.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "common/memory.h"
#include "http/message.h"
#include "http/origin.h"
#include "http/routes.h"
#include "http/waiting_room.h"

namespace korba {

ServerConfig::ServerConfig(std::string main_printer, std::uint16_t port, std::vector<PrinterEntry> aliases)
    : port(port) {
    printers.front().name = std::move(main_printer);
    printers.insert(printers.end(), aliases.begin(), aliases.end());
}

Result<NativeSocket> bind_listener(std::uint16_t port) { return open_loopback_listener(port, LISTEN_BACKLOG); }

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

// The connection as a request reads it: first the bytes received before, then the stream's, where
// nothing is received past the request's deadline; once the body is read, each byte is charged to
// the budget, all given back when the request ends.
class MeteredStream final : public ByteStream {
public:
    MeteredStream(ByteStream& inner, BodyBudget& budget, std::chrono::steady_clock::time_point deadline,
                  std::string received)
        : inner_(inner), budget_(budget), deadline_(deadline), received_(std::move(received)) {}
    ~MeteredStream() override { budget_.give_back(taken_); }
    MeteredStream(const MeteredStream&) = delete;
    MeteredStream& operator=(const MeteredStream&) = delete;

    Result<size_t> receive(char* buffer, size_t capacity) override {
        Result<size_t> got = given_ < received_.size() ? Result<size_t>(received_.copy(buffer, capacity, given_))
                                                       : receive_in_time(buffer, capacity);
        if (given_ < received_.size() && got) given_ += got.value();
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
    Result<size_t> receive_in_time(char* buffer, size_t capacity) {
        if (std::chrono::steady_clock::now() >= deadline_) return fail("la peticion tarda demasiado");
        return inner_.receive(buffer, capacity);
    }

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
    const std::string received_;
    size_t given_ = 0;
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

ReadOutcome answer_request(MeteredStream& stream, const ServerConfig& config, BodyBudget& budget, size_t largest_body) {
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
                              std::chrono::steady_clock::time_point deadline, size_t largest_body,
                              std::string received) {
    try {
        MeteredStream metered(stream, budget, deadline, std::move(received));
        return answer_request(metered, config, budget, largest_body);
    } catch (const std::exception&) {
        // Out of memory or of threads for this request: it ends here, the process goes on.
        return ReadOutcome::NothingToSay;
    }
}

namespace {
constexpr auto DRAIN_LIMIT = std::chrono::seconds(2);
constinit BodyBudget process_bodies(BODY_BUDGET);
// While a ready connection waits for one served to end.
constexpr auto SLOT_WAIT = std::chrono::milliseconds(20);
constexpr auto FOR_EVER = std::chrono::milliseconds(-1);

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

struct Capacity {
    int served;  // at once, a thread each
    int room;    // of those, kept for small requests
    size_t waiting;
};

// The configuration and the count outlive every connection: run_server holds them and never returns.
// It owns `taken` from here.
void serve_connection(Arrival* taken, const ServerConfig* config, bool small_only, std::atomic<int>* serving) {
    {
        const std::unique_ptr<Arrival> arrival(taken);
        Socket socket(arrival->handle);
        socket.set_receive_timeout(small_only ? static_cast<int>(SMALL_REQUEST_TIME.count()) : READ_TIMEOUT_SECONDS);
        socket.set_send_timeout(READ_TIMEOUT_SECONDS);
        const ReadOutcome outcome =
            small_only ? handle_connection(socket, *config, process_bodies,
                                           std::chrono::steady_clock::now() + SMALL_REQUEST_TIME, SMALL_BODY,
                                           std::move(arrival->received))
                       : handle_connection(socket, *config, process_bodies, arrival->accepted + REQUEST_DEADLINE,
                                           SIZE_MAX, std::move(arrival->received));
        if (outcome == ReadOutcome::AlreadyAnswered) drain_before_close(socket);
    }
    serving->fetch_sub(1);
}

// Starts a thread for the longest-ready connection; false, the connection back in the room, when
// the system has no thread to give.
bool serve_next(WaitingRoom& room, const ServerConfig* config, const Capacity& capacity, std::atomic<int>& serving) {
    auto arrival = std::make_unique<Arrival>(*room.take_ready());
    const bool small_only = serving.load() >= capacity.served - capacity.room;
    serving.fetch_add(1);
    try {
        std::thread(serve_connection, arrival.get(), config, small_only, &serving).detach();
        (void)arrival.release();
        return true;
    } catch (const std::exception&) {
        serving.fetch_sub(1);
        room.put_back(std::move(*arrival));
        return false;
    }
}

// Two descriptors for each connection served (its socket, and the spooler's connection of a
// print), one for each waiting, and some for the process itself.
Capacity connection_capacity() {
    const int descriptors = open_descriptor_limit(OWN_DESCRIPTORS + 2 * MAX_CONNECTIONS + MAX_WAITING);
    const int free = std::max(descriptors - OWN_DESCRIPTORS, 0);
    const int served = std::clamp(free / 4, 4, MAX_CONNECTIONS);
    return {served, std::min(ROOM_FOR_SMALL, served / 4), static_cast<size_t>(std::max(free - 2 * served, 4))};
}
}  // namespace

void run_server(NativeSocket listener, SharedConfig config) {
    tune_memory_for_serving();
    const Capacity capacity = connection_capacity();
    WaitingRoom room(listener,
                     {capacity.waiting, std::chrono::seconds(READ_TIMEOUT_SECONDS), REQUEST_DEADLINE, GIVE_WAY_AFTER});
    static std::atomic<int> serving{0};
    for (;;) {
        bool threads_left = true;
        while (threads_left && room.has_ready() && serving.load() < capacity.served)
            threads_left = serve_next(room, config.get(), capacity, serving);
        room.wait(room.has_ready() ? SLOT_WAIT : FOR_EVER);
    }
}

}  // namespace korba
