// A connected TCP pair over 127.0.0.1, made with the program's own listener calls, so the
// request reader and reply writer are tested against real sockets in both builds.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "http/server.h"
#include "http/socket.h"

namespace korba::test {

template <class T>
T must(Result<T> result) {
    if (!result) throw std::runtime_error(result.error());
    return std::move(result.value());
}

struct LoopbackPair {
    std::unique_ptr<Socket> server;  // the accepted end
    std::unique_ptr<Socket> client;
};

inline LoopbackPair connect_pair() {
    init_sockets();
    const NativeSocket listener = must(open_loopback_listener(0, 1));
    Result<NativeSocket> client = connect_loopback(local_port(listener));
    Result<NativeSocket> server = client ? accept_connection(listener) : client;
    close_socket(listener);
    LoopbackPair pair;
    pair.client = std::make_unique<Socket>(must(std::move(client)));
    pair.server = std::make_unique<Socket>(must(std::move(server)));
    // A reader that waits for bytes that never come fails the test instead of hanging it.
    pair.server->set_receive_timeout(READ_TIMEOUT_SECONDS);
    pair.client->set_receive_timeout(READ_TIMEOUT_SECONDS);
    return pair;
}

inline void send_text(ByteStream& stream, std::string_view data) {
    while (!data.empty()) {
        Result<size_t> sent = stream.send(data.data(), data.size());
        if (!sent || sent.value() == 0) return;
        data.remove_prefix(sent.value());
    }
}

// Reads until the peer closes (or `limit` bytes arrived).
inline std::string receive_text(ByteStream& stream, size_t limit = std::string::npos) {
    std::string text;
    char chunk[4096];
    while (text.size() < limit) {
        Result<size_t> got = stream.receive(chunk, std::min(sizeof chunk, limit - text.size()));
        if (!got || got.value() == 0) break;
        text.append(chunk, got.value());
    }
    return text;
}

// The client sends `bytes` on a thread of its own (and then closes, when asked) while the
// test reads on the server end; the destructor closes the server end and joins.
class PeerSends {
public:
    PeerSends(std::string bytes, bool then_close) : pair_(connect_pair()), bytes_(std::move(bytes)) {
        sender_ = std::thread([this, then_close] {
            send_text(*pair_.client, bytes_);
            if (then_close) pair_.client.reset();
        });
    }
    ~PeerSends() {
        pair_.server.reset();
        sender_.join();
    }
    Socket& server() { return *pair_.server; }
    Socket& client() { return *pair_.client; }  // only when not closed by the sender

private:
    LoopbackPair pair_;
    std::string bytes_;
    std::thread sender_;
};

// An in-memory stream: hands out `input` in reads of at most `step` bytes, then ends as asked;
// keeps what is sent.
class MemoryStream final : public ByteStream {
public:
    enum class End { PeerCloses, TimesOut, OutOfMemory };

    MemoryStream(std::string input, size_t step, End end = End::PeerCloses)
        : input_(std::move(input)), step_(step), end_(end) {}

    Result<size_t> receive(char* buffer, size_t capacity) override {
        if (position_ == input_.size()) {
            if (end_ == End::OutOfMemory) throw std::bad_alloc();
            if (end_ == End::TimesOut) return fail("timed out");
            return size_t{0};
        }
        const size_t n = std::min({capacity, step_, input_.size() - position_});
        std::memcpy(buffer, input_.data() + position_, n);
        position_ += n;
        return n;
    }
    Result<size_t> send(const char* data, size_t size) override {
        sent.append(data, size);
        return size;
    }

    std::string sent;

private:
    std::string input_;
    size_t step_;
    End end_;
    size_t position_ = 0;
};

}  // namespace korba::test
