#include "common/printer_table.h"

namespace korba {

namespace {

std::string with_plus_signs(std::string name) {
    for (char& c : name)
        if (c == ' ') c = '+';
    return name;
}

}  // namespace

bool valid_alias(std::string_view alias) {
    if (alias.empty() || alias.size() > ALIAS_LIMIT) return false;
    for (const char c : alias)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_')) return false;
    return true;
}

std::string printer_from_argument(std::string value) {
    for (char& c : value)
        if (c == '+') c = ' ';
    return value;
}

std::optional<PrinterEntry> parse_printer_for(std::string_view value) {
    const size_t equals = value.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    PrinterEntry entry{std::string(value.substr(0, equals)),
                       printer_from_argument(std::string(value.substr(equals + 1)))};
    if (!valid_alias(entry.alias) || entry.name.empty()) return std::nullopt;
    return entry;
}

std::vector<std::string> printer_options(const std::string& main, std::span<const PrinterEntry> aliases) {
    std::vector<std::string> options;
    if (!main.empty()) options.insert(options.end(), {"--printer", with_plus_signs(main)});
    for (const PrinterEntry& alias : aliases)
        options.insert(options.end(), {"--printer-for", alias.alias + "=" + with_plus_signs(alias.name)});
    return options;
}

std::vector<std::string> autostart_options(const std::string& main, std::span<const PrinterEntry> aliases) {
    if (aliases.empty()) return {};
    return printer_options(main, aliases);
}

}  // namespace korba
