// The printers a bridge serves: the main printer, and those its installer named under short
// aliases of the application's own, which stay the same on every PC whatever each PC calls its
// printers. Pages may print to these and to no other.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace korba {

struct PrinterEntry {
    std::string alias;  // empty for the main printer
    std::string name;

    bool operator==(const PrinterEntry&) const = default;
};

inline constexpr size_t ALIAS_LIMIT = 32;

// 1 to 32 of a-z 0-9 - _
bool valid_alias(std::string_view alias);
// A command-line printer name: every "+" stands for a space.
std::string printer_from_argument(std::string value);
// ALIAS=PRINTER, the alias before the first "="; nullopt when the alias or the printer is unusable.
std::optional<PrinterEntry> parse_printer_for(std::string_view value);
// The options that start the bridge again with these printers: "--printer" and the main printer
// when there is one, then "--printer-for" and ALIAS=PRINTER for each alias, every space written as
// "+" so that a plain name needs no quotes.
std::vector<std::string> printer_options(const std::string& main, std::span<const PrinterEntry> aliases);
// What the autostart entry carries after --autostart: nothing without aliases, so that such an
// entry stays as it always was; else the printer options.
std::vector<std::string> autostart_options(const std::string& main, std::span<const PrinterEntry> aliases);

}  // namespace korba
