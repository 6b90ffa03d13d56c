// Small helpers shared by the fuzz targets: carving a fuzz input into parts, and failing loudly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace korba::fuzz {

inline std::string_view as_text(const std::uint8_t* data, size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// The first byte gives the length (mod `max_length + 1`) of a leading part; the rest follows.
inline bool take_prefix(std::string_view& input, size_t max_length, std::string_view& prefix) {
    if (input.empty()) return false;
    const size_t length = static_cast<unsigned char>(input[0]) % (max_length + 1);
    input.remove_prefix(1);
    if (length > input.size()) return false;
    prefix = input.substr(0, length);
    input.remove_prefix(length);
    return true;
}

// A broken property: libFuzzer keeps the input that led here as a crash artifact.
[[noreturn]] inline void broken(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void expect(bool holds, const char* what) {
    if (!holds) broken(what);
}

}  // namespace korba::fuzz
