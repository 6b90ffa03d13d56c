// What the spooler says about the bridge's printer and its queue, so that the web page can
// tell a ticket that came out from one that waits. Asked afresh each time, never cached.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "printing/spooler.h"

namespace korba {

struct QueueState {
    // "unavailable", "paused", "offline", "error", "printing" or "ready".
    std::string state;
    std::uint32_t jobs = 0;
    std::vector<std::string> reasons;
};

// The first state that applies, with the reasons in a fixed order: the Windows status flags
// (in bit order, then the work-offline attribute) and the CUPS keywords as CUPS gives them.
QueueState map_queue_state(const PrinterState& printer, std::uint32_t jobs);
// The comma-separated CUPS keywords without "none"; none for null.
std::vector<std::string> cups_keywords(const char* reasons);
// "unavailable" with no jobs and no reasons when the printer cannot be opened or read.
QueueState read_queue_state(const std::string& printer);

}  // namespace korba
