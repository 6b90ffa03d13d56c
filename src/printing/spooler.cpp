#include "printing/spooler.h"

#include <cstring>

namespace korba {

namespace {
// Replaced by unit tests, and by the virtual printer of a preview run, before any thread runs.
Spooler* replacement_spooler = nullptr;
}  // namespace

Spooler& spooler() { return replacement_spooler ? *replacement_spooler : system_spooler(); }

void set_spooler(Spooler* replacement) { replacement_spooler = replacement; }

// Each answer is sized by a first call, into a zero-filled buffer; a second call that no
// longer fits (the state grew in between) leaves the answer unread.
std::optional<std::vector<std::byte>> read_printer_state(Spooler& spool, PrinterHandle handle) {
    std::uint32_t needed = 0;
    (void)spool.get_printer(handle, nullptr, 0, needed);
    if (needed < sizeof(PrinterState)) return std::nullopt;
    std::vector<std::byte> buffer(needed);
    if (!spool.get_printer(handle, buffer.data(), needed, needed)) return std::nullopt;
    return buffer;
}

bool pack_printer_records(const std::vector<std::u16string>& names, std::byte* buffer, std::uint32_t size,
                          std::uint32_t& needed, std::uint32_t& returned) {
    size_t total = names.size() * sizeof(PrinterInfo4);
    for (const std::u16string& name : names) total += (name.size() + 1) * sizeof(char16_t);
    needed = static_cast<std::uint32_t>(total);
    returned = 0;
    if (total > size) return false;
    auto* records = reinterpret_cast<PrinterInfo4*>(buffer);
    auto* strings = reinterpret_cast<char16_t*>(buffer + names.size() * sizeof(PrinterInfo4));
    for (const std::u16string& name : names) {
        std::memcpy(strings, name.c_str(), (name.size() + 1) * sizeof(char16_t));
        records[returned++] = {strings, nullptr, 0};
        strings += name.size() + 1;
    }
    return true;
}

bool pack_printer_name(const std::u16string& name, char16_t* buffer, std::uint32_t& size) {
    const auto units = static_cast<std::uint32_t>(name.size() + 1);
    const bool fits = buffer && size >= units;
    if (fits) std::memcpy(buffer, name.c_str(), units * sizeof(char16_t));
    size = units;
    return fits;
}

}  // namespace korba
