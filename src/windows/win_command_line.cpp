#include "windows/win_command_line.h"

namespace korba {

std::string quote_argument(std::string_view arg, bool force_quotes) {
    const bool quoted = force_quotes || arg.empty() || arg.find_first_of(" \t") != std::string_view::npos;
    std::string out;
    if (quoted) out += '"';
    size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        // Backslashes are literal unless a quote follows them; then each needs its own escape.
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        out += c;
        backslashes = 0;
    }
    out.append(quoted ? 2 * backslashes : backslashes, '\\');
    if (quoted) out += '"';
    return out;
}

std::string render_command_line(const std::string& program, const std::vector<CommandArg>& args) {
    std::string line = '"' + program + '"';
    for (const CommandArg& arg : args) {
        line += ' ';
        line += arg.verbatim ? arg.text : quote_argument(arg.text);
    }
    return line;
}

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The program name follows its own rule: it ends at the next quote when it starts with one,
// else at the first blank; backslashes mean nothing in it.
std::string take_program_name(std::string_view line, size_t& pos) {
    std::string name;
    if (pos < line.size() && line[pos] == '"') {
        const size_t close = line.find('"', pos + 1);
        const size_t end = close == std::string_view::npos ? line.size() : close;
        name = line.substr(pos + 1, end - pos - 1);
        pos = close == std::string_view::npos ? end : end + 1;
    } else {
        while (pos < line.size() && !is_blank(line[pos])) name += line[pos++];
        if (pos < line.size()) ++pos;
    }
    return name;
}

}  // namespace

std::vector<std::string> split_command_line(std::string_view line) {
    if (line.empty()) return {};
    size_t pos = 0;
    std::vector<std::string> args{take_program_name(line, pos)};
    while (pos < line.size() && is_blank(line[pos])) ++pos;
    if (pos == line.size()) return args;

    std::string current;
    int quotes = 0;  // 1 inside quotes; the run-of-quotes rule counts up to 3
    size_t backslashes = 0;
    while (pos < line.size()) {
        const char c = line[pos];
        if (is_blank(c) && quotes == 0) {
            args.push_back(std::move(current));
            current.clear();
            backslashes = 0;
            while (pos < line.size() && is_blank(line[pos])) ++pos;
            if (pos == line.size()) return args;
            continue;
        }
        if (c == '\\') {
            current += c;
            ++backslashes;
            ++pos;
            continue;
        }
        if (c != '"') {
            current += c;
            backslashes = 0;
            ++pos;
            continue;
        }
        // A quote after 2n backslashes keeps n and toggles quoting; after 2n+1 it is literal.
        current.resize(current.size() - backslashes / 2 - backslashes % 2);
        if (backslashes % 2 == 0) {
            ++quotes;
        } else {
            current += '"';
        }
        backslashes = 0;
        ++pos;
        // In a run of quotes every third one is a literal quote.
        for (; pos < line.size() && line[pos] == '"'; ++pos) {
            if (++quotes == 3) {
                current += '"';
                quotes = 0;
            }
        }
        if (quotes == 2) quotes = 0;
    }
    args.push_back(std::move(current));
    return args;
}

}  // namespace korba
