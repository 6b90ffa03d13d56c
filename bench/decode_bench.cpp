// Reading an 8 MiB {"data_b64":...} body (the largest the bridge accepts): json_field and
// base64_decode, both in place, against a plain memcpy of the same bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "http/fields.h"

namespace {

constexpr size_t BODY_SIZE = 8 * 1024 * 1024;

std::string base64_text(size_t length) {
    static constexpr char ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::mt19937 random(7);
    std::string text(length / 4 * 4, 'A');
    for (char& c : text) c = ALPHABET[random() % 64];
    return text;
}

const std::string& body() {
    static const std::string json = [] {
        const std::string prefix = "{\"data_b64\":\"", suffix = "\"}";
        return prefix + base64_text(BODY_SIZE - prefix.size() - suffix.size()) + suffix;
    }();
    return json;
}

const std::string& field() {
    static const std::string value = [] {
        std::string json = body();
        return std::string(*korba::json_field(json, "data_b64"));
    }();
    return value;
}

void memcpy_body(benchmark::State& state) {
    std::string copy(body().size(), '\0');
    for (auto _ : state) {
        std::memcpy(copy.data(), body().data(), body().size());
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body().size()));
}

// The value has no escape, so the search leaves the body as it is and needs no fresh copy.
void json_field_body(benchmark::State& state) {
    std::string json = body();
    for (auto _ : state) benchmark::DoNotOptimize(korba::json_field(json, "data_b64"));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body().size()));
}

// The decoder writes over its input: each round gets a fresh copy, outside the timing.
void base64_decode_field(benchmark::State& state) {
    std::string text;
    for (auto _ : state) {
        state.PauseTiming();
        text = field();
        state.ResumeTiming();
        benchmark::DoNotOptimize(korba::base64_decode(text));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * field().size()));
}

}  // namespace

BENCHMARK(memcpy_body);
BENCHMARK(json_field_body);
BENCHMARK(base64_decode_field);
BENCHMARK_MAIN();
