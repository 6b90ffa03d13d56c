// Stand-in for the browser opener (cmd.exe on Windows, xdg-open elsewhere): appends
// "start <its command line>" to the file named by KORBA_RECORD, stays alive until the file
// named by KORBA_RELEASE exists (two minutes at most), then appends "end".
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

void append(const char* text) {
    const char* file = std::getenv("KORBA_RECORD");
    if (file == nullptr) return;
    if (FILE* f = std::fopen(file, "ab")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

bool released() {
    const char* file = std::getenv("KORBA_RELEASE");
    FILE* f = file ? std::fopen(file, "rb") : nullptr;
    if (f) std::fclose(f);
    return f != nullptr;
}

void pause_a_little() {
#ifdef _WIN32
    Sleep(50);
#else
    usleep(50000);
#endif
}

#ifdef _WIN32
// The raw line shows how the caller quoted each argument.
std::string command_line(int, char**) {
    const wchar_t* wide = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string line(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, line.data(), size, nullptr, nullptr);
    return line;
}
#else
std::string command_line(int argc, char** argv) {
    std::string line = argv[0];
    for (int i = 1; i < argc; ++i) line += std::string(" ") + argv[i];
    return line;
}
#endif

}  // namespace

int main(int argc, char** argv) {
    append(("start " + command_line(argc, argv) + "\n").c_str());
    for (int i = 0; i < 2400 && !released(); ++i) pause_a_little();
    append("end\n");
    return 0;
}
