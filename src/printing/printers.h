// Printer discovery and the start-up choice of the one printer the bridge uses.
// None of these report errors: a failing spooler gives an empty answer.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace korba {

// The most UTF-16 units read from one enumerated name.
inline constexpr size_t MAX_NAME_UNITS = 4096;

// Local printers and connections in the spooler's order; a record without a name gives "".
std::vector<std::string> list_printers();
std::string default_printer();
// Whether the printer can be opened right now.
bool printer_accessible(const std::string& printer);
// The configured name, else the default printer, else the first listed one, else "".
std::string resolve_printer(const std::string& configured);

}  // namespace korba
