#include "tickets/ticket_book.h"

#include <algorithm>
#include <map>
#include <thread>

#include "common/text.h"
#include "printing/print_job.h"
#include "printing/queue_state.h"
#include "tickets/ticket_log.h"

namespace korba {

namespace {

constexpr const char* RECORD_ERROR = "no puedo guardar el registro de tickets: ";

TicketBook* active_book = nullptr;

// Only a request that the spooler refused leaves its id free for another attempt.
bool id_free(const Ticket& ticket) { return ticket.state == TicketState::Failed && ticket.error.has_value(); }

}  // namespace

TicketBook::TicketBook(RecordFile& file, TicketClocks clocks, bool sent_when_accepted)
    : file_(file), clocks_(clocks), sent_when_accepted_(sent_when_accepted) {}

std::int64_t TicketBook::now_seconds() const {
    return std::chrono::duration_cast<std::chrono::seconds>(clocks_.wall().time_since_epoch()).count();
}

Ticket* TicketBook::by_seq(std::uint64_t seq) {
    const auto found = std::lower_bound(tickets_.begin(), tickets_.end(), seq,
                                        [](const Ticket& ticket, std::uint64_t wanted) { return ticket.seq < wanted; });
    return found != tickets_.end() && found->seq == seq ? &*found : nullptr;
}

const Ticket* TicketBook::by_id(const std::string& id) const {
    const auto found = ids_.find(id);
    if (found == ids_.end()) return nullptr;
    return const_cast<TicketBook*>(this)->by_seq(found->second);
}

// Memory holds as many tickets as the record keeps; the oldest final ones go first.
void TicketBook::add(Ticket ticket) {
    if (ticket.id) ids_[*ticket.id] = ticket.seq;
    tickets_.push_back(std::move(ticket));
    while (tickets_.size() > RECORD_TICKETS && is_final(tickets_.front().state) && !tickets_.front().settling) {
        const Ticket& oldest = tickets_.front();
        if (oldest.id) {
            const auto latest = ids_.find(*oldest.id);
            if (latest != ids_.end() && latest->second == oldest.seq) ids_.erase(latest);
        }
        tickets_.pop_front();
    }
}

void TicketBook::load() {
    std::lock_guard guard(lock_);
    // A failure is told to each request with an id, which tries again.
    if (load_record()) (void)catch_up();
}

// The record read into memory once, before any id is looked up.
Status TicketBook::load_record() {
    if (loaded_) return success();
    const Result<std::string> contents = file_.read();
    if (!contents) return fail(RECORD_ERROR + contents.error());
    adopt(read_record(contents.value(), now_seconds()));
    loaded_ = true;
    return success();
}

// The record up to date with memory before a new id goes in: one deleted or replaced under the
// bridge is made again.
Status TicketBook::bring_up_to_date() {
    if (!file_.in_place()) behind_ = true;
    if (const Status caught = catch_up(); !caught) return fail(RECORD_ERROR + caught.error());
    return success();
}

// The record's tickets, with those that were not final to be looked up again. Tickets printed
// before the record could be read (it was another bridge's) keep their numbers, and the record's
// come after them.
void TicketBook::adopt(LoadedRecord loaded) {
    const bool renumber = !tickets_.empty();
    // Left as it is, a torn line would run into the next one appended.
    behind_ = behind_ || loaded.rewrite || renumber;
    const std::int64_t now = now_seconds();
    const auto steady_now = clocks_.steady();
    for (Ticket& ticket : loaded.tickets) {
        if (renumber) ticket.seq = next_seq_;
        next_seq_ = std::max(next_seq_, ticket.seq + 1);
        if (!is_final(ticket.state)) {
            // What is left of its time, never less than nothing nor more than it was given,
            // whatever the wall clock did while the bridge was not running.
            if (ticket.deadline != 0) {
                // The record reader keeps only deadlines after their ticket's arrival.
                const std::int64_t expire = ticket.deadline - ticket.received;
                const std::int64_t left = std::clamp(ticket.deadline - now, std::int64_t{0}, expire);
                ticket.due = steady_now + std::chrono::seconds(left);
            }
            followed_.emplace(ticket.seq, 0);
            recheck_.insert(ticket.seq);
        }
        add(std::move(ticket));
    }
    if (!followed_.empty()) to_follow_.notify_one();
}

// Writes the record anew from memory after a line that could not be written.
Status TicketBook::catch_up() {
    if (!behind_) return success();
    if (const Status replaced = file_.replace(write_record({tickets_.begin(), tickets_.end()})); !replaced)
        return replaced;
    behind_ = false;
    return success();
}

// A line of the follower's, or of a ticket without an id: one that cannot be written now goes
// in with the whole record later, memory holding it meanwhile.
void TicketBook::note(const std::string& line) {
    if (loaded_ && catch_up() && file_.append(line, false)) return;
    behind_ = true;
    to_follow_.notify_one();
}

Submission TicketBook::submit(const TicketRequest& request) {
    Ticket ticket;
    ticket.id = request.id;
    ticket.hash = ticket_hash(request.data);
    ticket.bytes = request.data.size();
    ticket.printer = request.printer;
    ticket.received = now_seconds();
    ticket.deadline = request.expire ? ticket.received + request.expire : 0;
    if (request.expire) ticket.due = clocks_.steady() + std::chrono::seconds(request.expire);
    ticket.settling = true;

    std::unique_lock guard(lock_);
    if (request.id) {
        if (const Status loaded = load_record(); !loaded) return {Outcome::RecordFailed, ticket, loaded.error()};
        // Another request with this id is with the spooler: its outcome decides this one.
        while (const Ticket* taken = by_id(*request.id)) {
            if (taken->settling) {
                settled_.wait(guard);
                continue;
            }
            if (id_free(*taken)) break;
            const bool same =
                taken->hash == ticket.hash && taken->bytes == ticket.bytes && taken->printer == ticket.printer;
            return {same ? Outcome::Repeat : Outcome::Conflict, *taken, ""};
        }
    }
    if (request.id) {
        if (const Status ready = bring_up_to_date(); !ready) return {Outcome::RecordFailed, ticket, ready.error()};
        ticket.seq = next_seq_++;
        // Taken for good once on the disk: a bridge killed after this line never prints the id again.
        if (const Status recorded = file_.append(arrival_line(ticket), true); !recorded)
            return {Outcome::RecordFailed, ticket, RECORD_ERROR + recorded.error()};
    } else {
        ticket.seq = next_seq_++;
        note(arrival_line(ticket));
    }
    const std::uint64_t seq = ticket.seq;
    add(std::move(ticket));
    guard.unlock();
    std::optional<JobNumber> maybe_printed;
    const Result<JobNumber> printed = print_raw(request.printer, request.data, &maybe_printed);
    guard.lock();
    settle(seq, printed, maybe_printed);
    settled_.notify_all();
    const Ticket& done = *by_seq(seq);
    if (!printed) return {maybe_printed ? Outcome::MaybePrinted : Outcome::PrintFailed, done, printed.error()};
    return {Outcome::Printed, done, ""};
}

// A job that failed after the spooler took it may print all the same: its id stays taken.
void TicketBook::settle(std::uint64_t seq, const Result<JobNumber>& printed, std::optional<JobNumber> maybe_printed) {
    Ticket& ticket = *by_seq(seq);
    ticket.settling = false;
    if (!printed) {
        ticket.error = printed.error();
        if (maybe_printed && *maybe_printed != 0) {
            ticket.job = *maybe_printed;
            note(job_line(ticket));
        }
        finish(ticket, maybe_printed ? TicketState::Unknown : TicketState::Failed);
        return;
    }
    if (printed.value() != 0) ticket.job = printed.value();
    note(job_line(ticket));
    if (sent_when_accepted_) {
        finish(ticket, TicketState::Sent);
    } else if (!ticket.job) {
        finish(ticket, TicketState::Unknown);
    } else {
        followed_.emplace(seq, 0);
        to_follow_.notify_one();
    }
}

// A final state is recorded once.
void TicketBook::finish(Ticket& ticket, TicketState state) {
    ticket.state = state;
    note(final_line(ticket));
    followed_.erase(ticket.seq);
    recheck_.erase(ticket.seq);
}

namespace {

// A job already printing is left alone: half a ticket must not come out.
bool delete_if_queued(const std::string& printer, JobNumber job) {
    Spooler& spool = spooler();
    const std::u16string name = to_wide(printer);
    const Result<PrinterHandle> opened = spool.open_printer(name.c_str());
    if (!opened) return false;
    const Result<std::optional<JobState>> state = spool.get_job(opened.value(), job);
    const bool queued = state && state.value() && map_job_state(*state.value()).state == TicketState::Queued;
    const bool deleted = queued && spool.delete_job(opened.value(), job);
    spool.close_printer(opened.value());
    return deleted;
}

}  // namespace

Cancellation TicketBook::cancel(const std::string& id) {
    std::unique_lock guard(lock_);
    const Ticket* ticket = by_id(id);
    for (; ticket && ticket->settling; ticket = by_id(id)) settled_.wait(guard);
    if (!ticket) return {CancelOutcome::NoSuchTicket, {}};
    if (ticket->state == TicketState::Cancelled) return {CancelOutcome::Cancelled, *ticket};
    if (ticket->state != TicketState::Queued || !ticket->job) return {CancelOutcome::TooLate, *ticket};
    const std::uint64_t seq = ticket->seq;
    const std::string printer = ticket->printer;
    const JobNumber job = *ticket->job;
    guard.unlock();
    const bool deleted = delete_if_queued(printer, job);
    guard.lock();
    Ticket* const after = by_seq(seq);
    if (!after) return {CancelOutcome::TooLate, {}};
    // Another cancel, or the follower, may have recorded its end meanwhile.
    if (deleted && !is_final(after->state)) finish(*after, TicketState::Cancelled);
    return {after->state == TicketState::Cancelled ? CancelOutcome::Cancelled : CancelOutcome::TooLate, *after};
}

std::optional<Ticket> TicketBook::find(const std::string& id) const {
    std::lock_guard guard(lock_);
    const Ticket* ticket = by_id(id);
    if (!ticket) return std::nullopt;
    return *ticket;
}

std::vector<Ticket> TicketBook::newest(size_t count) const {
    std::lock_guard guard(lock_);
    const size_t listed = std::min(count, tickets_.size());
    return {tickets_.rbegin(), tickets_.rbegin() + static_cast<std::ptrdiff_t>(listed)};
}

void TicketBook::follow_once() {
    std::vector<Followed> batch;
    {
        std::lock_guard guard(lock_);
        if (loaded_) (void)catch_up();
        for (const auto& [seq, failures] : followed_) {
            const Ticket& ticket = *by_seq(seq);
            batch.push_back({seq, ticket.printer, *ticket.job, ticket.due, recheck_.count(seq) > 0, ticket.reasons});
        }
    }
    if (!batch.empty()) apply(look_up(batch));
}

namespace {

// A job the spooler no longer knows: printed and removed, where the spooler removes printed
// jobs, unless it was left from before the start; its end unseen otherwise.
TicketState gone_state(bool recheck, const Spooler& spool) {
    return recheck || spool.keeps_finished_jobs() ? TicketState::Unknown : TicketState::Sent;
}

}  // namespace

// The spooler is asked once per printer for the printer's reasons and once per job.
std::vector<TicketBook::Seen> TicketBook::look_up(const std::vector<Followed>& batch) {
    Spooler& spool = spooler();
    std::map<std::string, std::vector<const Followed*>> by_printer;
    for (const Followed& followed : batch) by_printer[followed.printer].push_back(&followed);
    std::vector<Seen> seen;
    for (const auto& [printer, jobs] : by_printer) {
        const std::u16string name = to_wide(printer);
        const Result<PrinterHandle> opened = spool.open_printer(name.c_str());
        const std::optional<std::vector<std::byte>> state =
            opened ? read_printer_state(spool, opened.value()) : std::nullopt;
        const std::vector<std::string> printer_reasons =
            state ? map_queue_state(*reinterpret_cast<const PrinterState*>(state->data()), 0).reasons
                  : std::vector<std::string>();
        for (const Followed* followed : jobs)
            seen.push_back(opened ? look_up_job(spool, opened.value(), *followed, printer_reasons)
                                  : Seen{followed->seq, std::nullopt, followed->reasons});
        if (opened) spool.close_printer(opened.value());
    }
    return seen;
}

// A ticket that has not begun printing by its deadline is deleted from the queue here.
TicketBook::Seen TicketBook::look_up_job(Spooler& spool, PrinterHandle printer, const Followed& followed,
                                         const std::vector<std::string>& printer_reasons) {
    Seen seen{followed.seq, std::nullopt, followed.reasons};
    const Result<std::optional<JobState>> job = spool.get_job(printer, followed.job);
    if (!job) return seen;
    if (!job.value()) {
        seen.state = gone_state(followed.recheck, spool);
        return seen;
    }
    const JobView view = map_job_state(*job.value());
    seen.state = view.state;
    seen.reasons = merge_reasons(view.reasons, printer_reasons);
    const bool late = followed.due && clocks_.steady() >= *followed.due;
    if (view.state == TicketState::Queued && late && spool.delete_job(printer, followed.job))
        seen.state = TicketState::Expired;
    return seen;
}

void TicketBook::apply(const std::vector<Seen>& seen) {
    std::lock_guard guard(lock_);
    for (const Seen& job : seen) {
        Ticket* ticket = by_seq(job.seq);
        if (!ticket || is_final(ticket->state)) continue;
        if (!job.state) {
            if (++followed_[job.seq] >= LOOKUP_FAILURES) finish(*ticket, TicketState::Unknown);
            continue;
        }
        followed_[job.seq] = 0;
        ticket->reasons = job.reasons;
        recheck_.erase(job.seq);
        if (is_final(*job.state))
            finish(*ticket, *job.state);
        else
            ticket->state = *job.state;
    }
}

void TicketBook::follow_forever() {
    std::unique_lock guard(lock_);
    for (;;) {
        to_follow_.wait(guard, [this] { return !followed_.empty() || (loaded_ && behind_); });
        guard.unlock();
        follow_once();
        std::this_thread::sleep_for(FOLLOW_INTERVAL);
        guard.lock();
    }
}

// Until a run sets its own (unit tests of other parts), a book that records nothing.
TicketBook* ticket_book() {
    static NoRecordFile nowhere;
    static TicketBook unrecorded(nowhere);
    return active_book ? active_book : &unrecorded;
}

void use_ticket_book(TicketBook* book) { active_book = book; }

void start_ticket_book(std::unique_ptr<RecordFile> file, bool sent_when_accepted) {
    // Never freed: the follower and the connection threads use them until the process ends.
    RecordFile* const record = file.release();
    auto* const book = new TicketBook(*record, {}, sent_when_accepted);
    book->load();
    use_ticket_book(book);
    std::thread([book] { book->follow_forever(); }).detach();
}

}  // namespace korba
