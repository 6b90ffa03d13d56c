#include "tickets/ticket_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <thread>

#include "fakes/fake_record_file.h"
#include "fakes/fake_spooler.h"
#include "tickets/ticket_log.h"

namespace korba {
namespace {

using Calls = std::vector<std::string>;
using Words = std::vector<std::string>;

// The fake clocks: fixed times that tests move on, together or apart.
std::chrono::system_clock::time_point fake_time{std::chrono::seconds(1800000000)};
std::chrono::steady_clock::time_point fake_steady_time{std::chrono::hours(5)};
std::chrono::system_clock::time_point fake_now() { return fake_time; }
std::chrono::steady_clock::time_point fake_steady() { return fake_steady_time; }
std::int64_t fake_seconds() { return std::chrono::duration_cast<std::chrono::seconds>(fake_time.time_since_epoch()).count(); }
const TicketClocks FAKE_CLOCKS{fake_now, fake_steady};
void pass(std::chrono::seconds time) {
    fake_time += time;
    fake_steady_time += time;
}

constexpr std::uint32_t CUPS_PENDING = 3, CUPS_PROCESSING = 5, CUPS_CANCELED = 7, CUPS_COMPLETED = 9;

TicketRequest with_id(std::string id, std::string_view data, std::int64_t expire = 0) {
    return {std::move(id), expire, "ACME", data};
}

TEST(JobStates, CupsAndWindowsStatesMapToTheTicketsStates) {
    struct Case {
        std::uint32_t status;
        std::uint32_t cups_state;
        const char* cups_reasons;
        TicketState state;
        Words reasons;
    };
    const Case cases[] = {
        {0, 3, "none", TicketState::Queued, {}},
        {0, 4, "job-hold-until-specified", TicketState::Queued, {"job-hold-until-specified"}},
        {0, 5, "job-printing", TicketState::Printing, {"job-printing"}},
        {0, 6, "printer-stopped", TicketState::Printing, {"printer-stopped"}},
        {0, 7, "job-canceled-by-user", TicketState::Cancelled, {"job-canceled-by-user"}},
        {0, 8, "aborted-by-system", TicketState::Failed, {"aborted-by-system"}},
        {0, 9, "job-completed-successfully", TicketState::Sent, {"job-completed-successfully"}},
        {0x0000, 0, "", TicketState::Queued, {}},
        {0x0041, 0, "", TicketState::Queued, {"paused", "paper-out"}},
        {0x0620, 0, "", TicketState::Queued, {"offline", "blocked-devq", "user-intervention"}},
        {0x0018, 0, "", TicketState::Printing, {"spooling", "printing"}},
        {0x0080, 0, "", TicketState::Sent, {"printed"}},
        {0x1000, 0, "", TicketState::Sent, {"complete"}},
        {0x0004, 0, "", TicketState::Cancelled, {"deleting"}},
        {0x0114, 0, "", TicketState::Cancelled, {"deleting", "printing", "deleted"}},
        {0x0084, 0, "", TicketState::Sent, {"deleting", "printed"}},
    };
    for (const Case& c : cases) {
        const JobView view = map_job_state({c.status, c.cups_state, c.cups_reasons});
        SCOPED_TRACE(std::to_string(c.status) + "/" + std::to_string(c.cups_state));
        EXPECT_EQ(view.state, c.state);
        EXPECT_EQ(view.reasons, c.reasons);
    }
    EXPECT_EQ(merge_reasons({"paused", "job-printing"}, {"paused", "media-empty-error"}),
              (Words{"paused", "job-printing", "media-empty-error"}));
}

TEST(TicketParams, IdsAndDeadlines) {
    for (const char* id : {"a", "A-z_0.9~:", "550e8400-e29b-41d4-a716-446655440000"}) EXPECT_TRUE(valid_ticket_id(id)) << id;
    for (const std::string& id : std::vector<std::string>{"", "a b", "a%20b", "ñ", "a/b", std::string(65, 'x')})
        EXPECT_FALSE(valid_ticket_id(id)) << id;
    EXPECT_TRUE(valid_ticket_id(std::string(64, 'x')));
    EXPECT_EQ(parse_expire("1"), 1);
    EXPECT_EQ(parse_expire("86400"), 86400);
    EXPECT_EQ(parse_expire("00030"), 30);
    for (const char* text : {"", "0", "86401", "+5", "-1", "1.5", "5s", "999999999999"})
        EXPECT_EQ(parse_expire(text), std::nullopt) << text;
}

struct Book {
    FakeSpooler spooler;
    FakeRecordFile file{&spooler.calls};
    TicketBook book{file, FAKE_CLOCKS};
    Book() { book.load(); }
    Book(const std::string& contents) : file(&spooler.calls, contents) { book.load(); }
};

TEST(TicketBook, AnIdIsTakenOnTheDiskBeforeTheSpoolerSeesTheTicket) {
    Book b;
    b.spooler.next_job = 41;
    const Submission first = b.book.submit(with_id("t1", "ABC"));
    EXPECT_EQ(first.outcome, Outcome::Printed);
    EXPECT_EQ(first.ticket.job, 41u);
    EXPECT_EQ(b.spooler.calls, (Calls{"record T flushed", "open ACME", "start_doc KORBA|null|RAW", "start_page",
                                      "write 3", "end_page", "end_doc", "close", "record J"}));
    // The same bytes again: a repeat, nothing printed; to another printer, or other bytes: a conflict.
    b.spooler.calls.clear();
    const Submission again = b.book.submit({"t1", 30, "ACME", "ABC"});
    EXPECT_EQ(again.outcome, Outcome::Repeat);
    EXPECT_EQ(again.ticket.job, 41u);
    const Submission elsewhere = b.book.submit({"t1", 0, "OTRA", "ABC"});
    EXPECT_EQ(elsewhere.outcome, Outcome::Conflict);
    EXPECT_EQ(elsewhere.ticket.printer, "ACME");
    EXPECT_EQ(b.book.submit(with_id("t1", "ABD")).outcome, Outcome::Conflict);
    EXPECT_EQ(b.spooler.calls, Calls{});
    // Without an id the line is not waited for.
    EXPECT_EQ(b.book.submit({std::nullopt, 0, "ACME", "x"}).outcome, Outcome::Printed);
    EXPECT_EQ(b.spooler.calls.front(), "record T");
    // The virtual printer's jobs are done once it has them.
    FakeRecordFile nowhere;
    TicketBook preview(nowhere, FAKE_CLOCKS, true);
    EXPECT_EQ(preview.submit(with_id("p", "A")).ticket.state, TicketState::Sent);
}

TEST(TicketBook, ARefusedTicketLeavesItsIdFreeAndAnyOtherEndKeepsItTaken) {
    Book b;
    b.spooler.open_error = "Invalid printer name. (os error 1801)";
    const Submission refused = b.book.submit(with_id("t2", "ABC"));
    EXPECT_EQ(refused.outcome, Outcome::PrintFailed);
    EXPECT_EQ(refused.message, "no se pudo abrir la impresora \"ACME\" (Invalid printer name. (os error 1801))");
    EXPECT_EQ(b.book.find("t2")->state, TicketState::Failed);
    EXPECT_EQ(b.book.find("t2")->error, refused.message);
    b.spooler.open_error.reset();
    b.spooler.next_job = 7;
    EXPECT_EQ(b.book.submit(with_id("t2", "other bytes")).outcome, Outcome::Printed);
    EXPECT_EQ(b.book.find("t2")->job, 7u);
    EXPECT_EQ(b.book.find("t2")->error, std::nullopt);
    // Cancelled in the queue: the id stays taken.
    b.spooler.jobs[7] = {0, CUPS_CANCELED, "job-canceled-by-user"};
    b.book.follow_once();
    EXPECT_EQ(b.book.find("t2")->state, TicketState::Cancelled);
    EXPECT_EQ(b.book.submit(with_id("t2", "other bytes")).outcome, Outcome::Repeat);
    EXPECT_EQ(b.book.newest(50).size(), 2u);
}

TEST(TicketBook, OnlyATicketThatHasNotBegunPrintingIsCancelledAndItsIdStaysTaken) {
    Book b;
    ASSERT_EQ(b.book.submit(with_id("c1", "ABC")).ticket.job, 1u);
    b.spooler.jobs[1] = {0, CUPS_PENDING, "none"};
    b.spooler.calls.clear();
    const Cancellation cancelled = b.book.cancel("c1");
    EXPECT_EQ(cancelled.outcome, CancelOutcome::Cancelled);
    EXPECT_EQ(cancelled.ticket.state, TicketState::Cancelled);
    EXPECT_EQ(b.spooler.calls, (Calls{"open ACME", "get_job 1", "delete 1", "close", "record S"}));
    // Cancelled stays cancelled; sent again it is a repeat; the follower has nothing left to ask.
    b.spooler.calls.clear();
    EXPECT_EQ(b.book.cancel("c1").outcome, CancelOutcome::Cancelled);
    EXPECT_EQ(b.book.submit(with_id("c1", "ABC")).outcome, Outcome::Repeat);
    b.book.follow_once();
    EXPECT_EQ(b.spooler.calls, Calls{});

    // A job that began printing since the last round is left alone, as is one the spooler keeps.
    b.book.submit(with_id("c2", "D"));
    b.spooler.jobs[2] = {0, CUPS_PROCESSING, "job-printing"};
    b.book.submit(with_id("c3", "E"));
    b.spooler.jobs[3] = {0, CUPS_PENDING, "none"};
    for (const char* id : {"c2", "c3"}) {
        const Cancellation refused = b.book.cancel(id);
        EXPECT_EQ(refused.outcome, CancelOutcome::TooLate) << id;
        EXPECT_EQ(refused.ticket.state, TicketState::Queued) << id;
        b.spooler.job_error = "The RPC server is unavailable. (os error 1722)";
    }
    b.spooler.job_error.reset();
    EXPECT_EQ(b.spooler.jobs.size(), 2u);
    // Final states are never cancelled; an unknown id is not found.
    b.spooler.jobs[2] = {0, CUPS_COMPLETED, "job-completed-successfully"};
    b.book.follow_once();
    EXPECT_EQ(b.book.cancel("c2").outcome, CancelOutcome::TooLate);
    EXPECT_EQ(b.book.find("c2")->state, TicketState::Sent);
    EXPECT_EQ(b.book.cancel("c9").outcome, CancelOutcome::NoSuchTicket);
}

TEST(TicketBook, ARecordThatCannotBeWrittenPrintsNoTicketWithAnId) {
    Book b;
    b.file.error = "No space left on device (os error 28)";
    const Submission refused = b.book.submit(with_id("t3", "ABC"));
    EXPECT_EQ(refused.outcome, Outcome::RecordFailed);
    EXPECT_EQ(refused.message, "no puedo guardar el registro de tickets: No space left on device (os error 28)");
    EXPECT_EQ(b.spooler.calls, Calls{"record T flushed"});
    EXPECT_EQ(b.book.find("t3"), std::nullopt);
    // Without an id the ticket still prints.
    EXPECT_EQ(b.book.submit({std::nullopt, 0, "ACME", "ABC"}).outcome, Outcome::Printed);
    // A record that cannot be read at start keeps ids from printing, since they may be taken.
    FakeSpooler spooler;
    FakeRecordFile unreadable(&spooler.calls);
    unreadable.error = "Permission denied (os error 13)";
    TicketBook book(unreadable, FAKE_CLOCKS);
    book.load();
    EXPECT_EQ(book.submit(with_id("t4", "ABC")).message,
              "no puedo guardar el registro de tickets: Permission denied (os error 13)");
    EXPECT_EQ(spooler.calls, Calls{});
    // Each request with an id reads it again (another bridge may have let go of the folder).
    unreadable.error.reset();
    EXPECT_EQ(book.submit(with_id("t4", "ABC")).outcome, Outcome::Printed);
}

TEST(TicketBook, LinesThatCouldNotBeWrittenGoInWithTheWholeRecordLater) {
    Book b;
    ASSERT_EQ(b.book.submit(with_id("t1", "A")).outcome, Outcome::Printed);
    // The disk fills: the follower's lines and a ticket without an id are kept in memory.
    b.file.error = "No space left on device (os error 28)";
    b.spooler.jobs[1] = {0, CUPS_COMPLETED, "job-completed-successfully"};
    b.book.follow_once();
    EXPECT_EQ(b.book.submit({std::nullopt, 0, "ACME", "BC"}).outcome, Outcome::Printed);
    EXPECT_EQ(b.book.submit(with_id("t2", "D")).outcome, Outcome::RecordFailed);
    // Freed: the record is written anew from memory before anything else.
    b.file.error.reset();
    b.book.follow_once();
    EXPECT_EQ(b.file.replaced, 1);
    FakeRecordFile again(nullptr, b.file.contents);
    TicketBook restarted(again, FAKE_CLOCKS);
    restarted.load();
    EXPECT_EQ(again.replaced, 0);
    EXPECT_EQ(restarted.find("t1")->state, TicketState::Sent);
    EXPECT_EQ(restarted.newest(1).front().bytes, 2u);
    EXPECT_EQ(restarted.find("t2"), std::nullopt);

    // A record deleted under the bridge is made again from memory before an id is taken.
    b.file.contents.clear();
    b.file.still_in_place = false;
    b.spooler.calls.clear();
    EXPECT_EQ(b.book.submit(with_id("t1", "A")).outcome, Outcome::Repeat);
    EXPECT_EQ(b.book.submit(with_id("t3", "E")).outcome, Outcome::Printed);
    EXPECT_EQ(b.file.replaced, 2);
    EXPECT_EQ(b.spooler.calls.front(), "record T flushed");
    EXPECT_EQ(read_record(b.file.contents, fake_seconds()).tickets.size(), 3u);
}

TEST(TicketBook, AJobThatMayHavePrintedKeepsItsId) {
    Book b;
    b.spooler.next_job = 8;
    b.spooler.end_doc_error = "The printer is out of paper. (os error 28)";
    const Submission failed = b.book.submit(with_id("t1", "ABC"));
    EXPECT_EQ(failed.outcome, Outcome::MaybePrinted);
    EXPECT_EQ(failed.message, "EndDocPrinter: The printer is out of paper. (os error 28)");
    EXPECT_EQ(failed.ticket.state, TicketState::Unknown);
    EXPECT_EQ(failed.ticket.job, 8u);
    b.spooler.end_doc_error.reset();
    EXPECT_EQ(b.book.submit(with_id("t1", "ABC")).outcome, Outcome::Repeat);
    // So across a restart.
    FakeRecordFile again(nullptr, b.file.contents);
    TicketBook restarted(again, FAKE_CLOCKS);
    restarted.load();
    EXPECT_EQ(restarted.find("t1")->state, TicketState::Unknown);
    EXPECT_EQ(restarted.submit(with_id("t1", "ABC")).outcome, Outcome::Repeat);
    // A write refused and its deletion confirmed printed nothing: the id is free.
    b.spooler.write_error = "The device is not ready. (os error 21)";
    EXPECT_EQ(b.book.submit(with_id("t2", "ABC")).outcome, Outcome::PrintFailed);
    b.spooler.write_error.reset();
    EXPECT_EQ(b.book.submit(with_id("t2", "ABC")).outcome, Outcome::Printed);
}

// A spooler slow to take a job, so that other requests arrive meanwhile.
class SlowSpooler : public FakeSpooler {
public:
    Result<JobNumber> start_doc(PrinterHandle printer, const DocumentInfo& document) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return FakeSpooler::start_doc(printer, document);
    }
};

TEST(TicketBook, ConcurrentRequestsWithOneIdMakeOneJob) {
    SlowSpooler spooler;
    FakeRecordFile file;
    TicketBook book(file, FAKE_CLOCKS);
    std::vector<Outcome> outcomes(20);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < outcomes.size(); ++i)
        threads.emplace_back([&, i] { outcomes[i] = book.submit(with_id("same", i == 19 ? "other" : "ABC")).outcome; });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(std::count(spooler.calls.begin(), spooler.calls.end(), "write 3") +
                  std::count(spooler.calls.begin(), spooler.calls.end(), "write 5"),
              1);
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), Outcome::Printed), 1);
    EXPECT_EQ(std::count(outcomes.begin(), outcomes.end(), Outcome::Repeat) +
                  std::count(outcomes.begin(), outcomes.end(), Outcome::Conflict),
              19);
}

TEST(TicketBook, FollowsEachJobToItsFinalStateAndRecordsItOnce) {
    Book b;
    b.spooler.cups_reasons = "media-empty-error";
    ASSERT_EQ(b.book.submit(with_id("t5", "ABC")).ticket.job, 1u);
    b.spooler.jobs[1] = {0, CUPS_PENDING, "none"};
    b.book.follow_once();
    EXPECT_EQ(b.book.find("t5")->state, TicketState::Queued);
    EXPECT_EQ(b.book.find("t5")->reasons, Words{"media-empty-error"});
    b.spooler.jobs[1] = {0, CUPS_PROCESSING, "job-printing"};
    b.book.follow_once();
    EXPECT_EQ(b.book.find("t5")->state, TicketState::Printing);
    EXPECT_EQ(b.book.find("t5")->reasons, (Words{"job-printing", "media-empty-error"}));
    b.spooler.cups_reasons.reset();
    b.spooler.jobs[1] = {0, CUPS_COMPLETED, "job-completed-successfully"};
    b.spooler.calls.clear();
    b.book.follow_once();
    b.book.follow_once();
    EXPECT_EQ(b.book.find("t5")->state, TicketState::Sent);
    EXPECT_EQ(b.book.find("t5")->reasons, Words{"job-completed-successfully"});
    EXPECT_EQ(std::count(b.spooler.calls.begin(), b.spooler.calls.end(), "record S"), 1);
    EXPECT_EQ(std::count(b.spooler.calls.begin(), b.spooler.calls.end(), "get_job 1"), 1);
    // Nothing is left to follow: no spooler call at all.
    b.spooler.calls.clear();
    b.book.follow_once();
    EXPECT_EQ(b.spooler.calls, Calls{});
}

TEST(TicketBook, WindowsRemovesPrintedJobsAndShowsDeletedOnes) {
    Book b;
    b.spooler.keeps_history = false;
    b.book.submit(with_id("printed", "A"));
    b.book.submit(with_id("deleted", "B"));
    b.spooler.jobs[1] = {0x0010, 0, ""};
    b.spooler.jobs[2] = {0x0001, 0, ""};
    b.book.follow_once();
    EXPECT_EQ(b.book.find("printed")->state, TicketState::Printing);
    EXPECT_EQ(b.book.find("deleted")->reasons, Words{"paused"});
    b.spooler.jobs.erase(1);
    b.spooler.jobs[2] = {0x0005, 0, ""};
    b.book.follow_once();
    EXPECT_EQ(b.book.find("printed")->state, TicketState::Sent);
    EXPECT_EQ(b.book.find("deleted")->state, TicketState::Cancelled);
    // A spooler that cannot be asked leaves the state as it was, to be asked again.
    b.book.submit(with_id("later", "C"));
    b.spooler.job_error = "The RPC server is unavailable. (os error 1722)";
    b.book.follow_once();
    EXPECT_EQ(b.book.find("later")->state, TicketState::Queued);
    b.spooler.job_error.reset();
    b.book.follow_once();
    EXPECT_EQ(b.book.find("later")->state, TicketState::Sent);
    // One that can never be asked about (Wine's spooler keeps no job states) ends unknown.
    b.book.submit(with_id("never", "D"));
    b.spooler.job_error = "Invalid handle. (os error 6)";
    for (int round = 1; round < LOOKUP_FAILURES; ++round) b.book.follow_once();
    EXPECT_EQ(b.book.find("never")->state, TicketState::Queued);
    b.book.follow_once();
    EXPECT_EQ(b.book.find("never")->state, TicketState::Unknown);
}

TEST(TicketBook, ATicketNotBegunByItsDeadlineIsDeletedFromTheQueue) {
    Book b;
    b.book.submit(with_id("late", "A", 30));
    b.book.submit(with_id("begun", "B", 30));
    b.spooler.jobs[1] = {0, CUPS_PENDING, "none"};
    b.spooler.jobs[2] = {0, CUPS_PROCESSING, "none"};
    // The wall clock set back an hour, or on a day, moves no deadline.
    fake_time -= std::chrono::hours(1);
    pass(std::chrono::seconds(29));
    b.book.follow_once();
    EXPECT_EQ(b.book.find("late")->state, TicketState::Queued);
    fake_time += std::chrono::hours(25);
    b.book.follow_once();
    EXPECT_EQ(b.book.find("late")->state, TicketState::Queued);
    fake_time -= std::chrono::hours(24);
    pass(std::chrono::seconds(1));
    b.spooler.calls.clear();
    b.book.follow_once();
    EXPECT_EQ(b.book.find("late")->state, TicketState::Expired);
    EXPECT_EQ(b.book.find("begun")->state, TicketState::Printing);
    EXPECT_EQ(std::count(b.spooler.calls.begin(), b.spooler.calls.end(), "delete 1"), 1);
    EXPECT_EQ(std::count(b.spooler.calls.begin(), b.spooler.calls.end(), "delete 2"), 0);
    // A repeat of an expired ticket is a repeat, not a print.
    EXPECT_EQ(b.book.submit(with_id("late", "A")).outcome, Outcome::Repeat);
}

TEST(TicketRecord, AtStartTicketsThatWereNotFinalAreLookedUpOnce) {
    std::string record;
    struct Left {
        int seq;
        const char* id;
        int deadline;
    };
    for (const auto& [seq, id, deadline] : {Left{1, "done", 0}, Left{2, "gone", 0}, Left{3, "waits", 20}, Left{4, "killed", 0}}) {
        Ticket ticket;
        ticket.seq = static_cast<std::uint64_t>(seq);
        ticket.id = id;
        ticket.printer = "ACME";
        ticket.bytes = 3;
        ticket.received = fake_seconds();
        ticket.deadline = deadline ? fake_seconds() + deadline : 0;
        ticket.job = 100 + seq;
        record += arrival_line(ticket);
        if (seq != 4) record += job_line(ticket);
    }
    // Started with the wall clock an hour behind: the tickets are dated after it, and "waits" has
    // its 20 seconds left, not an hour and 20 seconds.
    fake_time -= std::chrono::hours(1);
    Book b(record);
    // Killed between the two lines: its fate is unknown, recorded so at once.
    EXPECT_EQ(b.book.find("killed")->state, TicketState::Unknown);
    EXPECT_EQ(b.book.find("killed")->job, std::nullopt);
    EXPECT_EQ(b.file.replaced, 1);
    b.spooler.keeps_history = false;  // even where the spooler removes printed jobs
    b.spooler.jobs[101] = {0, CUPS_COMPLETED, "job-completed-successfully"};
    b.spooler.jobs[103] = {0, CUPS_PENDING, "none"};
    b.book.follow_once();
    EXPECT_EQ(b.book.find("done")->state, TicketState::Sent);
    EXPECT_EQ(b.book.find("gone")->state, TicketState::Unknown);
    EXPECT_EQ(b.book.find("waits")->state, TicketState::Queued);
    // Still queued: followed again, its deadline held.
    pass(std::chrono::seconds(20));
    b.book.follow_once();
    EXPECT_EQ(b.book.find("waits")->state, TicketState::Expired);
    // The next ticket is numbered after those of the record; a repeat across the restart prints nothing.
    EXPECT_EQ(b.book.submit(with_id("killed", "xyz")).outcome, Outcome::Conflict);
    EXPECT_EQ(b.book.submit(with_id("new", "xyz")).ticket.seq, 5u);

    // What the follower recorded reads back as it was.
    FakeRecordFile again(nullptr, b.file.contents);
    TicketBook restarted(again, FAKE_CLOCKS);
    restarted.load();
    EXPECT_EQ(again.replaced, 0);
    EXPECT_EQ(restarted.find("waits")->state, TicketState::Expired);
    EXPECT_EQ(restarted.find("killed")->state, TicketState::Unknown);
    EXPECT_EQ(restarted.newest(1).front().id, "new");
}

Ticket plain_ticket(std::uint64_t seq, std::int64_t received) {
    Ticket ticket;
    ticket.seq = seq;
    ticket.printer = "Caja\t1\n\\";
    ticket.bytes = seq;
    ticket.received = received;
    ticket.job = static_cast<JobNumber>(seq);
    ticket.state = TicketState::Failed;
    ticket.reasons = {"a", "b"};
    return ticket;
}

TEST(TicketRecord, ATornLastLineIsSkippedAndTheRestRead) {
    const std::string whole = write_record({plain_ticket(1, 1000), plain_ticket(2, 1000)});
    const std::string torn = whole + arrival_line(plain_ticket(3, 1000)).substr(0, 12);
    const LoadedRecord loaded = read_record(torn, 1000);
    ASSERT_EQ(loaded.tickets.size(), 2u);
    EXPECT_TRUE(loaded.rewrite);
    EXPECT_EQ(loaded.tickets[1].printer, "Caja\t1\n\\");
    EXPECT_EQ(loaded.tickets[1].reasons, (Words{"a", "b"}));
    EXPECT_EQ(write_record(loaded.tickets), whole);
    // A line of a later format, or one that does not read, is skipped the same way.
    EXPECT_EQ(read_record("2\tT\t9\n" + whole + "1\tS\t1\tbogus\t\t\n", 1000).tickets.size(), 2u);
    EXPECT_FALSE(read_record(whole, 1000).rewrite);
}

TEST(TicketRecord, CompactionDropsTheOldAndKeepsTheNewestTenThousand) {
    const std::int64_t now = fake_seconds();
    std::vector<Ticket> tickets = {plain_ticket(1, now - 7 * 86400 - 1), plain_ticket(2, now - 7 * 86400)};
    for (std::uint64_t seq = 3; seq < 3 + RECORD_TICKETS; ++seq) tickets.push_back(plain_ticket(seq, now));
    const LoadedRecord loaded = read_record(write_record(tickets), now);
    EXPECT_TRUE(loaded.rewrite);
    ASSERT_EQ(loaded.tickets.size(), RECORD_TICKETS);
    EXPECT_EQ(loaded.tickets.front().seq, 3u);
    // A clock a month ahead at start (a dead clock battery) drops none of the last week's; a
    // ticket dated after the clock is kept.
    EXPECT_EQ(read_record(write_record(tickets), now + 30 * 86400).tickets.front().seq, 3u);
    EXPECT_EQ(read_record(write_record({plain_ticket(1, now)}), now - 30 * 86400).tickets.size(), 1u);

    // The book writes the new record whole, in place of the old one.
    Book b(write_record(tickets));
    EXPECT_EQ(b.file.replaced, 1);
    EXPECT_EQ(b.file.contents, write_record(loaded.tickets));
}

TEST(TicketFolder, TheFirstRuleThatApplies) {
    static std::map<std::string, std::string> environment;
    const auto lookup = [](const char* name) -> std::optional<std::string> {
        const auto found = environment.find(name);
        if (found == environment.end()) return std::nullopt;
        return found->second;
    };
    environment = {{"LOCALAPPDATA", "C:\\Users\\ana\\AppData\\Local"}, {"STATE_DIRECTORY", "/var/lib/korba:/x"},
                   {"XDG_STATE_HOME", "/home/ana/.state"}, {"HOME", "/home/ana"}};
    EXPECT_EQ(ticket_folder({"D:\\datos", true, true, lookup}), "D:\\datos");
    EXPECT_EQ(ticket_folder({std::nullopt, true, true, lookup}), "C:\\KORBA\\tickets");
    EXPECT_EQ(ticket_folder({std::nullopt, true, false, lookup}), "C:\\Users\\ana\\AppData\\Local\\KORBA\\tickets");
    EXPECT_EQ(ticket_folder({std::nullopt, false, true, lookup}), "/var/lib/korba");
    environment.erase("STATE_DIRECTORY");
    EXPECT_EQ(ticket_folder({std::nullopt, false, false, lookup}), "/home/ana/.state/korba-vizoza");
    environment["XDG_STATE_HOME"] = "relative";
    EXPECT_EQ(ticket_folder({std::nullopt, false, false, lookup}), "/home/ana/.local/state/korba-vizoza");
    environment = {{"HOME", ""}, {"LOCALAPPDATA", ""}};
    EXPECT_EQ(ticket_folder({std::nullopt, false, false, lookup}), std::nullopt);
    EXPECT_EQ(ticket_folder({std::nullopt, true, false, lookup}), std::nullopt);
}

}  // namespace
}  // namespace korba
