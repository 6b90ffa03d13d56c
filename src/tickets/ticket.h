// A ticket as the bridge remembers it: who sent what to which printer, the spooler's job number
// and what became of the job. Never the ticket's bytes: only their size and hash.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "printing/spooler.h"

namespace korba {

enum class TicketState { Queued, Printing, Sent, Failed, Cancelled, Expired, Unknown };

inline constexpr size_t TICKET_ID_LIMIT = 64;
inline constexpr std::int64_t EXPIRE_LIMIT_SECONDS = 86400;

struct Ticket {
    std::uint64_t seq = 0;  // the order of arrival, unique in the record
    std::optional<std::string> id;
    std::uint64_t hash = 0;
    std::uint64_t bytes = 0;
    std::string printer;
    std::int64_t received = 0;  // seconds since 1970, UTC
    std::int64_t deadline = 0;  // when it must have begun printing; 0: never expires
    // The same on this run's steady clock, which a change of the wall clock does not move.
    std::optional<std::chrono::steady_clock::time_point> due;
    std::optional<JobNumber> job;
    TicketState state = TicketState::Queued;
    std::vector<std::string> reasons;
    // Set when the print request failed: the id is free again, unless the job may have printed
    // all the same (state "unknown").
    std::optional<std::string> error;
    bool settling = false;  // the spooler has not answered yet
};

// "queued", "printing", "sent", ...
const char* state_word(TicketState state);
// nullopt for a word that is none of them.
std::optional<TicketState> state_from_word(std::string_view word);
bool is_final(TicketState state);

// 1 to 64 of A-Z a-z 0-9 . _ ~ : -
bool valid_ticket_id(std::string_view id);
// Decimal digits only, 1 to 86400.
std::optional<std::int64_t> parse_expire(std::string_view text);

// The hash that tells a repeat from another ticket with the same id (64-bit FNV-1a).
std::uint64_t ticket_hash(std::string_view data);

// What the spooler's state of a job means for its ticket, with the job's own reasons: the
// Windows JOB_STATUS_* flags as words in bit order, or the CUPS keywords without "none".
struct JobView {
    TicketState state;
    std::vector<std::string> reasons;
};
JobView map_job_state(const JobState& job);
// `reasons` followed by those of `more` that it does not hold yet.
std::vector<std::string> merge_reasons(std::vector<std::string> reasons, const std::vector<std::string>& more);

}  // namespace korba
