// The tickets of this bridge: each print request recorded before the spooler sees it, so that an
// id prints at most once across restarts, and each job followed until its final state. One lock
// over the tickets in memory and the record file; the spooler is never called under it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "tickets/record_file.h"
#include "tickets/ticket.h"
#include "tickets/ticket_log.h"

namespace korba {

inline constexpr std::chrono::milliseconds FOLLOW_INTERVAL{500};
inline constexpr size_t LISTED_TICKETS = 50;
// Rounds in a row in which the spooler could not be asked about a job before its end counts as
// not seen (some spoolers keep no job states at all).
inline constexpr int LOOKUP_FAILURES = 20;

struct TicketRequest {
    std::optional<std::string> id;
    std::int64_t expire = 0;  // seconds; 0: never
    std::string printer;
    std::string_view data;
};

enum class Outcome {
    Printed,       // a first time: the spooler took it
    Repeat,        // the id was taken already, with the same bytes: nothing printed
    Conflict,      // the id was taken already, with other bytes
    PrintFailed,   // the spooler refused it; `message` says why
    MaybePrinted,  // it failed after the spooler had taken it, which may print it all the same
    RecordFailed,  // the id could not be recorded, so nothing was printed; `message` says why
};

struct Submission {
    Outcome outcome;
    Ticket ticket;
    std::string message;
};

enum class CancelOutcome {
    Cancelled,  // its job was deleted before it began printing, now or before
    NoSuchTicket,
    TooLate,  // printing, done, or a job the spooler would not delete: nothing changed
};

struct Cancellation {
    CancelOutcome outcome;
    Ticket ticket;
};

// The wall clock dates the tickets; deadlines run on the steady clock.
struct TicketClocks {
    std::chrono::system_clock::time_point (*wall)() = std::chrono::system_clock::now;
    std::chrono::steady_clock::time_point (*steady)() = std::chrono::steady_clock::now;
};

class TicketBook {
public:
    // `sent_when_accepted`: a job is done once the spooler has it (the virtual printer).
    TicketBook(RecordFile& file, TicketClocks clocks = {}, bool sent_when_accepted = false);

    // Reads the record, writes it anew when it holds what it should no longer hold, and takes the
    // tickets that were not final to be looked up again. A record that cannot be read keeps every
    // request with an id from printing; each such request tries it again.
    void load();
    // An id names one ticket whatever the printer: sent to another printer it is a conflict.
    Submission submit(const TicketRequest& request);
    // Deletes the job of a ticket that has not begun printing; a cancelled ticket stays so.
    Cancellation cancel(const std::string& id);
    std::optional<Ticket> find(const std::string& id) const;
    // The newest first.
    std::vector<Ticket> newest(size_t count) const;

    // One round over the jobs that are followed: each is looked up, expired when its deadline
    // passed before it began printing, and its final state recorded once. A record that lacks
    // lines is written anew first.
    void follow_once();
    // Follows for ever: a round every FOLLOW_INTERVAL while there is a job to follow or a record
    // to catch up, asleep otherwise.
    void follow_forever();

private:
    struct Followed {
        std::uint64_t seq;
        std::string printer;
        JobNumber job;
        std::optional<std::chrono::steady_clock::time_point> due;
        bool recheck;  // left from before the start: a job that is gone was not seen to end
        std::vector<std::string> reasons;
    };
    struct Seen {
        std::uint64_t seq;
        std::optional<TicketState> state;  // nullopt: the spooler could not be asked this round
        std::vector<std::string> reasons;
    };

    std::int64_t now_seconds() const;
    Ticket* by_seq(std::uint64_t seq);
    const Ticket* by_id(const std::string& id) const;
    void add(Ticket ticket);
    Status load_record();
    Status bring_up_to_date();
    void adopt(LoadedRecord loaded);
    Status catch_up();
    void note(const std::string& line);
    void settle(std::uint64_t seq, const Result<JobNumber>& printed, std::optional<JobNumber> maybe_printed);
    void finish(Ticket& ticket, TicketState state);
    std::vector<Seen> look_up(const std::vector<Followed>& batch);
    Seen look_up_job(Spooler& spool, PrinterHandle printer, const Followed& followed,
                     const std::vector<std::string>& printer_reasons);
    void apply(const std::vector<Seen>& seen);

    RecordFile& file_;
    const TicketClocks clocks_;
    const bool sent_when_accepted_;
    mutable std::mutex lock_;
    std::condition_variable settled_;
    std::condition_variable to_follow_;
    std::deque<Ticket> tickets_;  // by seq, oldest first
    std::unordered_map<std::string, std::uint64_t> ids_;  // an id's latest attempt
    std::map<std::uint64_t, int> followed_;  // with the rounds in a row that could not ask about the job
    std::set<std::uint64_t> recheck_;
    std::uint64_t next_seq_ = 1;
    bool loaded_ = false;  // the record has been read into memory
    bool behind_ = false;  // memory holds what the record lacks: it is to be written anew
};

// The book of this run, set before any thread runs.
TicketBook* ticket_book();
void use_ticket_book(TicketBook* book);
// Makes the book of this run over `file`, loads it and starts its follower, for the rest of the process.
void start_ticket_book(std::unique_ptr<RecordFile> file, bool sent_when_accepted);

}  // namespace korba
