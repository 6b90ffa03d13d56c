#include "printing/printers.h"

#include <cstdint>

#include "common/text.h"
#include "printing/spooler.h"

namespace korba {

namespace {

std::string record_name(const char16_t* name) {
    if (!name) return {};
    size_t length = 0;
    while (length < MAX_NAME_UNITS && name[length] != u'\0') ++length;
    return from_wide(std::u16string_view(name, length));
}

}  // namespace

std::vector<std::string> list_printers() {
    Spooler& spool = spooler();
    std::uint32_t needed = 0;
    std::uint32_t returned = 0;
    // The first call only asks how many bytes the answer takes.
    (void)spool.enum_printers(PRINTER_ENUM_LOCAL_AND_CONNECTIONS, nullptr, 0, needed, returned);
    if (needed == 0) return {};
    // A printer added between the two calls makes the second one fail; that gives no list.
    std::vector<std::byte> buffer(needed);
    const auto size = static_cast<std::uint32_t>(buffer.size());
    if (!spool.enum_printers(PRINTER_ENUM_LOCAL_AND_CONNECTIONS, buffer.data(), size, needed, returned)) return {};
    const auto* records = reinterpret_cast<const PrinterInfo4*>(buffer.data());
    std::vector<std::string> names;
    names.reserve(returned);
    for (std::uint32_t i = 0; i < returned; ++i) names.push_back(record_name(records[i].printer_name));
    return names;
}

std::string default_printer() {
    Spooler& spool = spooler();
    std::uint32_t size = 0;
    (void)spool.default_printer(nullptr, size);
    if (size == 0) return {};
    std::u16string buffer(size, u'\0');
    std::uint32_t filled = size;
    if (!spool.default_printer(buffer.data(), filled)) return {};
    return from_wide(std::u16string_view(buffer.c_str()));
}

bool printer_accessible(const std::string& printer) {
    if (printer.empty()) return false;
    Spooler& spool = spooler();
    const std::u16string name = to_wide(printer);
    const Result<PrinterHandle> opened = spool.open_printer(name.c_str());
    if (!opened) return false;
    spool.close_printer(opened.value());
    return true;
}

std::string resolve_printer(const std::string& configured) {
    if (!configured.empty()) return configured;
    if (std::string fallback = default_printer(); !fallback.empty()) return fallback;
    std::vector<std::string> printers = list_printers();
    return printers.empty() ? std::string() : printers.front();
}

}  // namespace korba
