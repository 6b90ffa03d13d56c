#include "tickets/ticket.h"

#include <algorithm>
#include <iterator>

#include "printing/queue_state.h"

namespace korba {

namespace {

const char* const STATE_WORDS[] = {"queued", "printing", "sent", "failed", "cancelled", "expired", "unknown"};

struct StatusFlag {
    std::uint32_t bit;
    const char* word;
};
// JOB_STATUS_* flags in bit order, worded as the printer's flags are.
constexpr StatusFlag JOB_FLAGS[] = {
    {0x0001, "paused"},   {0x0002, "error"},      {0x0004, "deleting"},     {0x0008, "spooling"},
    {0x0010, "printing"}, {0x0020, "offline"},    {0x0040, "paper-out"},    {0x0080, "printed"},
    {0x0100, "deleted"},  {0x0200, "blocked-devq"}, {0x0400, "user-intervention"}, {0x0800, "restart"},
    {0x1000, "complete"}, {0x2000, "retained"},   {0x4000, "rendering-locally"},
};
constexpr std::uint32_t JOB_DELETING = 0x0004 | 0x0100;
constexpr std::uint32_t JOB_PRINTING = 0x0010;
constexpr std::uint32_t JOB_DONE = 0x0080 | 0x1000;

// CUPS job-state values.
constexpr std::uint32_t CUPS_PROCESSING = 5;
constexpr std::uint32_t CUPS_STOPPED = 6;
constexpr std::uint32_t CUPS_CANCELED = 7;
constexpr std::uint32_t CUPS_ABORTED = 8;
constexpr std::uint32_t CUPS_COMPLETED = 9;

TicketState windows_state(std::uint32_t status) {
    if (status & JOB_DONE) return TicketState::Sent;
    if (status & JOB_DELETING) return TicketState::Cancelled;
    if (status & JOB_PRINTING) return TicketState::Printing;
    return TicketState::Queued;
}

TicketState cups_state(std::uint32_t state) {
    switch (state) {
        case CUPS_PROCESSING:
        case CUPS_STOPPED: return TicketState::Printing;
        case CUPS_CANCELED: return TicketState::Cancelled;
        case CUPS_ABORTED: return TicketState::Failed;
        case CUPS_COMPLETED: return TicketState::Sent;
        default: return TicketState::Queued;
    }
}

bool id_character(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '~' || c == ':' || c == '-';
}

}  // namespace

const char* state_word(TicketState state) { return STATE_WORDS[static_cast<int>(state)]; }

std::optional<TicketState> state_from_word(std::string_view word) {
    for (int i = 0; i < static_cast<int>(std::size(STATE_WORDS)); ++i)
        if (word == STATE_WORDS[i]) return static_cast<TicketState>(i);
    return std::nullopt;
}

bool is_final(TicketState state) { return state != TicketState::Queued && state != TicketState::Printing; }

bool valid_ticket_id(std::string_view id) {
    return !id.empty() && id.size() <= TICKET_ID_LIMIT && std::all_of(id.begin(), id.end(), id_character);
}

std::optional<std::int64_t> parse_expire(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > EXPIRE_LIMIT_SECONDS) return std::nullopt;
    return value;
}

std::uint64_t ticket_hash(std::string_view data) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : data) hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    return hash;
}

JobView map_job_state(const JobState& job) {
    if (job.cups_state != 0) return {cups_state(job.cups_state), cups_keywords(job.cups_reasons.c_str())};
    JobView view{windows_state(job.status), {}};
    for (const StatusFlag& flag : JOB_FLAGS)
        if (job.status & flag.bit) view.reasons.emplace_back(flag.word);
    return view;
}

std::vector<std::string> merge_reasons(std::vector<std::string> reasons, const std::vector<std::string>& more) {
    for (const std::string& reason : more)
        if (std::find(reasons.begin(), reasons.end(), reason) == reasons.end()) reasons.push_back(reason);
    return reasons;
}

}  // namespace korba
