// The ticket record's lines. One record a line, tab-separated, each starting with the format
// version; a ticket is a T line when it arrives, a J line with the job number once the spooler
// has taken it, and an S line with its final state. A line that does not read (a torn last line
// after a power cut, a later format) is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tickets/ticket.h"

namespace korba {

inline constexpr std::int64_t RECORD_DAYS = 7;
inline constexpr size_t RECORD_TICKETS = 10000;

std::string arrival_line(const Ticket& ticket);
std::string job_line(const Ticket& ticket);
std::string final_line(const Ticket& ticket);

struct LoadedRecord {
    std::vector<Ticket> tickets;  // oldest first
    // Whether the file should be written anew: it had lines that did not read, tickets to drop,
    // or tickets the bridge stopped following between its two records (now "unknown").
    bool rewrite = false;
};

// Reads the record, dropping all but the newest RECORD_TICKETS and those older than RECORD_DAYS
// before `now`, or before the newest ticket when that is earlier.
LoadedRecord read_record(std::string_view contents, std::int64_t now);
// The whole record of `tickets` as read_record reads it back.
std::string write_record(const std::vector<Ticket>& tickets);

}  // namespace korba
