#include "printing/spooler.h"

namespace korba {

namespace {
// Replaced only by unit tests, before any thread runs.
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

}  // namespace korba
