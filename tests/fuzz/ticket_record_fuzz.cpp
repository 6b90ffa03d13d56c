// read_record over any file contents, then the record written anew from what it read: that must
// read back as the same tickets and need no rewrite, or each start rewrites (or changes) the record.
#include <cstdint>
#include <string>

#include "fuzz_input.h"
#include "tickets/ticket_log.h"

namespace {

using korba::fuzz::expect;

// Fixed, so that a found input reads the same way again; the inputs carry times around it.
constexpr std::int64_t NOW = 1750000000;

korba::LoadedRecord load(std::string_view contents) { return korba::read_record(contents, NOW); }

void expect_same(const korba::Ticket& a, const korba::Ticket& b) {
    expect(a.seq == b.seq && a.id == b.id, "another ticket read back");
    expect(a.hash == b.hash && a.bytes == b.bytes && a.printer == b.printer && a.received == b.received &&
               a.deadline == b.deadline,
           "the arrival read back differently");
    expect(a.job == b.job, "the job number read back differently");
    expect(a.state == b.state && a.error == b.error, "the state read back differently");
    expect(a.reasons == b.reasons, "the reasons read back differently");
    expect(!a.settling && !b.settling, "a ticket still settling after the read");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const korba::LoadedRecord loaded = load(korba::fuzz::as_text(data, size));
    expect(loaded.tickets.size() <= korba::RECORD_TICKETS, "more tickets than the record keeps");
    const korba::LoadedRecord again = load(korba::write_record(loaded.tickets));
    expect(!again.rewrite, "a record just written asks to be written anew");
    expect(again.tickets.size() == loaded.tickets.size(), "tickets lost or gained in the record written anew");
    for (size_t i = 0; i < loaded.tickets.size(); ++i) expect_same(loaded.tickets[i], again.tickets[i]);
    return 0;
}
