// Stand-in tool: writes N megabytes (first argument) to stdout and to stderr in alternating
// 64 KiB chunks, then exits with code 3. Byte i of stdout is i*7+1, of stderr i*13+5 (mod 256).
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    const size_t total = (argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1) << 20;
    const size_t chunk = 65536;
    std::string out(chunk, '\0'), err(chunk, '\0');
    for (size_t start = 0; start < total; start += chunk) {
        for (size_t i = 0; i < chunk; ++i) {
            out[i] = static_cast<char>((start + i) * 7 + 1);
            err[i] = static_cast<char>((start + i) * 13 + 5);
        }
        std::fwrite(out.data(), 1, chunk, stdout);
        std::fflush(stdout);
        std::fwrite(err.data(), 1, chunk, stderr);
        std::fflush(stderr);
    }
    return 3;
}
