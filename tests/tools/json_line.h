// For the Windows stand-in tools: append the arguments as one JSON array line to a file.
#pragma once

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

inline std::string utf8(const std::wstring& wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), -1, text.data(), size, nullptr, nullptr);
    return text;
}

inline void append_json_line(const wchar_t* file_variable, const std::vector<std::wstring>& args) {
    wchar_t file[MAX_PATH];
    if (!GetEnvironmentVariableW(file_variable, file, MAX_PATH)) return;
    std::string line = "[";
    for (size_t i = 0; i < args.size(); ++i) {
        line += i ? ",\"" : "\"";
        for (const unsigned char c : utf8(args[i])) {
            if (c == '"' || c == '\\') line += '\\';
            if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                line += escape;
            } else {
                line += static_cast<char>(c);
            }
        }
        line += '"';
    }
    line += "]\n";
    if (FILE* f = _wfopen(file, L"ab")) {
        std::fwrite(line.data(), 1, line.size(), f);
        std::fclose(f);
    }
}
