// Reading a request head that arrives one byte per read (a slow or hostile client): finding the
// blank line must cost time in proportion to the head, not to its square.
#include <benchmark/benchmark.h>

#include <string>

#include "http/message.h"

namespace {

class OneByteAtATime final : public korba::ByteStream {
public:
    explicit OneByteAtATime(const std::string& input) : input_(input) {}
    korba::Result<size_t> receive(char* buffer, size_t) override {
        if (position_ == input_.size()) return size_t{0};
        buffer[0] = input_[position_++];
        return size_t{1};
    }
    korba::Result<size_t> send(const char*, size_t size) override { return size; }

private:
    const std::string& input_;
    size_t position_ = 0;
};

// Short header lines: every CR is a candidate the search has to look at.
std::string head_of(size_t size) {
    std::string head = "GET /favicon.ico HTTP/1.1\r\n";
    while (head.size() + 4 + 2 <= size) head += "a:\r\n";
    head.resize(size - 2, 'a');
    return head + "\r\n";
}

void read_head_one_byte_per_read(benchmark::State& state) {
    const std::string head = head_of(static_cast<size_t>(state.range(0)) - 2) + "\r\n";
    for (auto _ : state) {
        OneByteAtATime stream(head);
        korba::HttpRequest request;
        std::string after_head;
        benchmark::DoNotOptimize(korba::read_head(stream, request, after_head));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * head.size()));
}

}  // namespace

BENCHMARK(read_head_one_byte_per_read)->Arg(4096)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
