#include "printing/queue_state.h"

#include <gtest/gtest.h>

#include "fakes/fake_spooler.h"

namespace korba {
namespace {

using Calls = std::vector<std::string>;
using Words = std::vector<std::string>;

constexpr std::uint32_t K_PAUSED = 0x1, K_ERROR = 0x2, K_PAPER_JAM = 0x8, K_PAPER_OUT = 0x10, K_OFFLINE = 0x80,
                        K_PRINTING = 0x400, K_NOT_AVAILABLE = 0x1000, K_PROCESSING = 0x4000, K_TONER_LOW = 0x20000,
                        K_NO_TONER = 0x40000, K_USER_INTERVENTION = 0x100000, K_DOOR_OPEN = 0x400000;
constexpr std::uint32_t K_WORK_OFFLINE = 0x400;
constexpr std::uint32_t K_IDLE = 3, K_BUSY = 4, K_STOPPED = 5;

TEST(QueueState, FirstStateThatAppliesAndTheReasonsInOrder) {
    struct Case {
        const char* name;
        std::uint32_t status, attributes, cups_state;
        const char* reasons;
        std::uint32_t jobs;
        std::string state;
        Words words;
    };
    const Case cases[] = {
        {"windows: nothing set", 0, 0, 0, nullptr, 0, "ready", {}},
        {"windows: paused wins over everything", K_PAUSED | K_OFFLINE | K_PAPER_OUT | K_PRINTING, K_WORK_OFFLINE, 0, nullptr, 3,
         "paused", {"paused", "paper-out", "offline", "printing", "work-offline"}},
        {"windows: offline before an error", K_PAPER_JAM | K_OFFLINE, 0, 0, nullptr, 0, "offline", {"paper-jam", "offline"}},
        {"windows: not available", K_NOT_AVAILABLE, 0, 0, nullptr, 0, "offline", {"not-available"}},
        {"windows: set to work offline", 0, K_WORK_OFFLINE, 0, nullptr, 1, "offline", {"work-offline"}},
        {"windows: paper out", K_PAPER_OUT, 0, 0, nullptr, 2, "error", {"paper-out"}},
        {"windows: door open", K_DOOR_OPEN, 0, 0, nullptr, 0, "error", {"door-open"}},
        {"windows: no toner", K_NO_TONER, 0, 0, nullptr, 0, "error", {"no-toner"}},
        {"windows: user intervention", K_USER_INTERVENTION, 0, 0, nullptr, 0, "error", {"user-intervention"}},
        {"windows: the error flag", K_ERROR | K_PRINTING, 0, 0, nullptr, 0, "error", {"error", "printing"}},
        {"windows: toner low is only a warning", K_TONER_LOW, 0, 0, nullptr, 0, "ready", {"toner-low"}},
        {"windows: processing", K_PROCESSING, 0, 0, nullptr, 0, "printing", {"processing"}},
        {"windows: jobs waiting", 0, 0, 0, nullptr, 2, "printing", {}},
        {"windows: unknown bits have no word", 0x80000000, 0, 0, nullptr, 0, "ready", {}},
        {"cups: idle", 0, 0, K_IDLE, "none", 0, "ready", {}},
        {"cups: disabled", 0, 0, K_STOPPED, "paused", 2, "paused", {"paused"}},
        {"cups: paused with an error", 0, 0, K_STOPPED, "media-jam-error,paused", 0, "paused",
         {"media-jam-error", "paused"}},
        {"cups: stopped by a failed device", 0, 0, K_STOPPED, "none", 1, "error", {}},
        {"cups: offline", 0, 0, K_IDLE, "offline-report", 0, "offline", {"offline-report"}},
        {"cups: connecting", 0, 0, K_BUSY, "connecting-to-device", 1, "offline", {"connecting-to-device"}},
        {"cups: an error keyword", 0, 0, K_IDLE, "toner-low-report,media-empty-error", 0, "error",
         {"toner-low-report", "media-empty-error"}},
        {"cups: a warning is no error", 0, 0, K_IDLE, "media-empty-warning", 0, "ready", {"media-empty-warning"}},
        {"cups: processing", 0, 0, K_BUSY, "none", 0, "printing", {}},
        {"cups: held jobs", 0, 0, K_IDLE, "", 2, "printing", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QueueState queue = map_queue_state({c.status, c.attributes, c.cups_state, c.reasons}, c.jobs);
        EXPECT_EQ(queue.state, c.state);
        EXPECT_EQ(queue.jobs, c.jobs);
        EXPECT_EQ(queue.reasons, c.words);
    }
}

TEST(QueueState, SpoolerCallsAndTheirReleaseOnEveryPath) {
    const std::string state_size = std::to_string(sizeof(PrinterState));
    struct Case {
        const char* name;
        std::string printer = "ACME";
        bool open_fails = false, state_unreadable = false, jobs_unreadable = false;
        std::uint32_t jobs = 0;
        Calls calls = {};
        std::string state = "unavailable";
    };
    const Calls read_state = {"open ACME", "get_printer size 0", "get_printer size " + state_size};
    auto then = [](Calls calls, const Calls& more) {
        calls.insert(calls.end(), more.begin(), more.end());
        return calls;
    };
    const Case cases[] = {
        {.name = "no printer: no call", .printer = ""},
        {.name = "cannot be opened", .open_fails = true, .calls = {"open ACME"}},
        {.name = "state unreadable: closed, no jobs asked",
         .state_unreadable = true,
         .calls = then(read_state, {"close"})},
        {.name = "jobs unreadable: closed",
         .jobs_unreadable = true,
         .jobs = 2,
         .calls = then(read_state, {"enum_jobs size 0", "enum_jobs size 8", "close"})},
        {.name = "an empty queue is one call", .calls = then(read_state, {"enum_jobs size 0", "close"}), .state = "ready"},
        {.name = "jobs counted",
         .jobs = 3,
         .calls = then(read_state, {"enum_jobs size 0", "enum_jobs size 12", "close"}),
         .state = "printing"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSpooler spooler;
        if (c.open_fails) spooler.open_error = "Invalid printer name. (os error 1801)";
        spooler.state_unreadable = c.state_unreadable;
        spooler.jobs_unreadable = c.jobs_unreadable;
        spooler.job_count = c.jobs;
        const QueueState queue = read_queue_state(c.printer);
        EXPECT_EQ(spooler.calls, c.calls);
        EXPECT_EQ(queue.state, c.state);
        EXPECT_EQ(queue.jobs, c.state == "unavailable" ? 0 : c.jobs);
        EXPECT_EQ(queue.reasons, Words{});
    }
}

TEST(QueueState, CupsReasonsTravelWithTheirTextAfterTheRecord) {
    FakeSpooler spooler;
    spooler.state = {0, 0, K_STOPPED, nullptr};
    spooler.cups_reasons = "paused,none";
    const QueueState queue = read_queue_state("ACME");
    EXPECT_EQ(spooler.calls[2], "get_printer size " + std::to_string(sizeof(PrinterState) + 12));
    EXPECT_EQ(queue.state, "paused");
    EXPECT_EQ(queue.reasons, Words{"paused"});
}

}  // namespace
}  // namespace korba
