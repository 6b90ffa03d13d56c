#include "http/waiting_room.h"

#include <algorithm>

#include "http/message.h"

namespace korba {

namespace {
// Out of descriptors, a failed accept fails again at once: the listener rests instead of spinning a core.
constexpr auto ACCEPT_RETRY_PAUSE = std::chrono::milliseconds(20);
constexpr NativeSocket GONE = -1;
constexpr int ACCEPT_BURST = 64;

std::chrono::milliseconds until(SteadyTime now, SteadyTime then) {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(then - now), std::chrono::milliseconds(0));
}
}  // namespace

WaitingRoom::~WaitingRoom() {
    for (const Waiting& waiting : waiting_) close_socket(waiting.arrival.handle);
    for (const Arrival& arrival : ready_) close_socket(arrival.handle);
}

std::optional<Arrival> WaitingRoom::take_ready() {
    if (ready_.empty()) return std::nullopt;
    Arrival first = std::move(ready_.front());
    ready_.pop_front();
    return first;
}

void WaitingRoom::wait(std::chrono::milliseconds longest) {
    SteadyTime now = std::chrono::steady_clock::now();
    const bool listening = now >= accept_again_ && (size() < rules_.capacity || quietest_to_give_way(now));
    std::vector<NativeSocket> watched;
    watched.reserve(waiting_.size() + 1);
    for (const Waiting& waiting : waiting_) watched.push_back(waiting.arrival.handle);
    if (listening) watched.push_back(listener_);
    const std::vector<size_t> readable =
        wait_readable(watched, static_cast<int>(time_to_next_event(now, longest).count()));
    now = std::chrono::steady_clock::now();
    bool accept = false;
    for (const size_t i : readable) {
        if (i == waiting_.size())
            accept = true;
        else if (!receive(waiting_[i], now))
            waiting_[i].arrival.handle = GONE;
    }
    std::erase_if(waiting_, [](const Waiting& waiting) { return waiting.arrival.handle == GONE; });
    if (accept) accept_waiting(now);
    close_expired(now);
}

// Those waiting to be accepted, a burst at a time: a client whose connection finds the backlog
// full is let in only after its retries, seconds later.
void WaitingRoom::accept_waiting(SteadyTime now) {
    const NativeSocket listener[] = {listener_};
    for (int taken = 0; taken < ACCEPT_BURST; ++taken) {
        if (taken > 0 && wait_readable(listener, 0).empty()) return;
        if (!accept_one(now)) return;
    }
}

bool WaitingRoom::accept_one(SteadyTime now) {
    if (size() >= rules_.capacity && !make_room(now)) return false;
    const Result<NativeSocket> accepted = accept_connection(listener_);
    if (!accepted) {
        accept_again_ = now + ACCEPT_RETRY_PAUSE;
        return false;
    }
    waiting_.push_back({Arrival{accepted.value(), {}, now}, now});
    return true;
}

WaitingRoom::Waiting* WaitingRoom::quietest_to_give_way(SteadyTime now) {
    const auto quietest = std::min_element(waiting_.begin(), waiting_.end(),
                                           [](const Waiting& a, const Waiting& b) { return a.heard < b.heard; });
    if (quietest == waiting_.end() || now - quietest->heard < rules_.give_way_after) return nullptr;
    return &*quietest;
}

// Closes the connection silent the longest, if it has been silent long enough to give way.
bool WaitingRoom::make_room(SteadyTime now) {
    Waiting* quietest = quietest_to_give_way(now);
    if (!quietest) return false;
    close_socket(quietest->arrival.handle);
    waiting_.erase(waiting_.begin() + (quietest - waiting_.data()));
    return true;
}

bool WaitingRoom::receive(Waiting& waiting, SteadyTime now) {
    char chunk[READ_CHUNK];
    const Result<size_t> got = receive_arrived(waiting.arrival.handle, chunk, sizeof chunk);
    if (!got || got.value() == 0) {
        close_socket(waiting.arrival.handle);
        return false;
    }
    std::string& received = waiting.arrival.received;
    received.append(chunk, got.value());
    waiting.heard = now;
    // Resumed, not restarted: a head that arrives a byte at a time must not cost quadratic time.
    if (received.find(HEAD_END, waiting.searched) != std::string::npos || received.size() > HEADER_LIMIT) {
        ready_.push_back(std::move(waiting.arrival));
        return false;
    }
    waiting.searched = received.size() - std::min(received.size(), HEAD_END.size() - 1);
    return true;
}

void WaitingRoom::close_expired(SteadyTime now) {
    std::erase_if(waiting_, [&](const Waiting& waiting) {
        const bool over = now - waiting.heard >= rules_.silence || now - waiting.arrival.accepted >= rules_.deadline;
        if (over) close_socket(waiting.arrival.handle);
        return over;
    });
}

// Until a connection's time is over, the quietest may give way, or the listener may try again;
// `longest` at the most (negative: no limit).
std::chrono::milliseconds WaitingRoom::time_to_next_event(SteadyTime now, std::chrono::milliseconds longest) const {
    std::optional<SteadyTime> next;
    const auto earliest = [&](SteadyTime then) { next = next ? std::min(*next, then) : then; };
    for (const Waiting& waiting : waiting_) {
        earliest(waiting.heard + rules_.silence);
        earliest(waiting.arrival.accepted + rules_.deadline);
        // Once one may give way the listener is watched: no timer needed for it.
        if (size() >= rules_.capacity && waiting.heard + rules_.give_way_after > now)
            earliest(waiting.heard + rules_.give_way_after);
    }
    if (accept_again_ > now) earliest(accept_again_);
    if (!next) return longest;
    const std::chrono::milliseconds left = until(now, *next);
    return longest.count() < 0 ? left : std::min(left, longest);
}

}  // namespace korba
