// Connections accepted and not yet served. Each holds its descriptor and the bytes of its head
// received so far, but no thread, until its head is whole: clients that connect and send nothing,
// or half a head, cannot take the threads the page's requests need.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "http/socket.h"

namespace korba {

using SteadyTime = std::chrono::steady_clock::time_point;

// A connection whose head has come whole (or grown past the head limit), ready to be served.
struct Arrival {
    NativeSocket handle;
    std::string received;  // the bytes received so far: the head and whatever came after it
    SteadyTime accepted;
};

// A connection waits for its head until it falls silent for `silence` or `deadline` has passed
// since it was accepted; then it is closed without a reply. When the room is full and more
// connections wait to be accepted, the one silent the longest gives way once it has been silent
// for `give_way_after`.
struct WaitingRules {
    size_t capacity;
    std::chrono::milliseconds silence;
    std::chrono::milliseconds deadline;
    std::chrono::milliseconds give_way_after;
};

class WaitingRoom {
public:
    WaitingRoom(NativeSocket listener, WaitingRules rules) : listener_(listener), rules_(rules) {}
    ~WaitingRoom();
    WaitingRoom(const WaitingRoom&) = delete;
    WaitingRoom& operator=(const WaitingRoom&) = delete;

    // Waits up to `longest` for connections and bytes, then accepts, receives, and closes those
    // whose time is over. Returns early, without waiting, when one is ready.
    void wait(std::chrono::milliseconds longest);
    // The longest-ready connection, no longer the room's; nullopt when none is ready.
    std::optional<Arrival> take_ready();
    // A connection that could not be served after all goes first again.
    void put_back(Arrival arrival) { ready_.push_front(std::move(arrival)); }
    bool has_ready() const { return !ready_.empty(); }
    size_t size() const { return waiting_.size() + ready_.size(); }

private:
    struct Waiting {
        Arrival arrival;
        SteadyTime heard;     // when bytes last came
        size_t searched = 0;  // no head end starts before this offset
    };

    void accept_waiting(SteadyTime now);
    bool accept_one(SteadyTime now);
    Waiting* quietest_to_give_way(SteadyTime now);
    bool make_room(SteadyTime now);
    // False when the connection is done with: closed by the peer, failed, or ready.
    bool receive(Waiting& waiting, SteadyTime now);
    void close_expired(SteadyTime now);
    std::chrono::milliseconds time_to_next_event(SteadyTime now, std::chrono::milliseconds longest) const;

    NativeSocket listener_;
    WaitingRules rules_;
    std::vector<Waiting> waiting_;
    std::deque<Arrival> ready_;
    SteadyTime accept_again_{};  // after a failed accept, the listener rests until then
};

}  // namespace korba
