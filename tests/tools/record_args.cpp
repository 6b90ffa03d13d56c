// Stand-in tool: appends its arguments as one JSON array line to the file named by
// KORBA_RECORD (when set), writes "stand-in" to stdout and exits with KORBA_EXIT_CODE (default 0).
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace {

std::string json_quoted(const std::string& text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

int record(const std::vector<std::string>& args) {
    if (const char* file = std::getenv("KORBA_RECORD")) {
        std::string line = "[";
        for (size_t i = 0; i < args.size(); ++i) {
            if (i > 0) line += ',';
            line += json_quoted(args[i]);
        }
        line += "]\n";
        if (FILE* f = std::fopen(file, "ab")) {
            std::fwrite(line.data(), 1, line.size(), f);
            std::fclose(f);
        }
    }
    std::fputs("stand-in\n", stdout);
    const char* code = std::getenv("KORBA_EXIT_CODE");
    return code ? std::atoi(code) : 0;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string arg(size > 0 ? size - 1 : 0, '\0');
        WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), size, nullptr, nullptr);
        args.push_back(arg);
    }
    return record(args);
}
#else
int main(int argc, char** argv) { return record(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
