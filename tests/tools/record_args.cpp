// Stand-in tool: appends its arguments as one JSON array line to the file named by KORBA_RECORD,
// writes "stand-in" to stdout and exits with KORBA_EXIT_CODE (default 0). Without KORBA_RECORD (run by
// a service, which does not get the test's environment) the Windows build writes beside itself,
// to "{its own path}.jsonl".
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

#ifdef _WIN32
std::string utf8(const wchar_t* wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), size, nullptr, nullptr);
    return text;
}
#endif

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

int record(const std::vector<std::string>& args, const std::string& own_record) {
    const char* variable = std::getenv("KORBA_RECORD");
    const std::string file = variable ? variable : own_record;
    if (!file.empty()) {
        std::string line = "[";
        for (size_t i = 0; i < args.size(); ++i) {
            if (i > 0) line += ',';
            line += json_quoted(args[i]);
        }
        line += "]\n";
        if (FILE* f = std::fopen(file.c_str(), "ab")) {
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
    for (int i = 1; i < argc; ++i) args.push_back(utf8(argv[i]));
    wchar_t own_path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, own_path, MAX_PATH);
    return record(args, length > 0 && length < MAX_PATH ? utf8(own_path) + ".jsonl" : "");
}
#else
int main(int argc, char** argv) { return record(std::vector<std::string>(argv + 1, argv + argc), ""); }
#endif
