#include "printing/print_job.h"

#include <gtest/gtest.h>

#include "fakes/fake_spooler.h"
#include "printing/drawer.h"

namespace korba {
namespace {

using Calls = std::vector<std::string>;

const Calls WHOLE_JOB = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "write 3", "end_page", "end_doc",
                         "close"};

TEST(PrintRaw, SpoolerCallsOnEveryPath) {
    struct Case {
        const char* name;
        std::string printer = "ACME";
        std::string data = "ABC";
        std::optional<std::string> open_error = {}, start_doc_error = {}, write_error = {}, end_doc_error = {},
                                   abort_error = {};
        std::vector<std::uint32_t> write_counts = {};
        Calls calls = {};
        std::optional<std::string> message = {};
        std::optional<JobNumber> maybe_printed = {};  // the job a failure may have left to print
    };
    const std::string not_ready = "The device is not ready. (os error 21)";
    const Case cases[] = {
        {.name = "empty name touches nothing",
         .printer = "",
         .message = "no hay impresora configurada (usa --printer \"NOMBRE\")"},
        {.name = "open fails: nothing to close",
         .open_error = "Invalid printer name. (os error 1801)",
         .calls = {"open ACME"},
         .message = "no se pudo abrir la impresora \"ACME\" (Invalid printer name. (os error 1801))"},
        {.name = "start document fails: printer closed, no document ended",
         .start_doc_error = "Access is denied. (os error 5)",
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "close"},
         .message = "StartDocPrinter: Access is denied. (os error 5)"},
        {.name = "write fails: the job is deleted, not ended",
         .write_error = not_ready,
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "write 3", "abort", "close"},
         .message = "WritePrinter: " + not_ready},
        {.name = "write fails and the deletion is not confirmed: it may print",
         .write_error = not_ready,
         .abort_error = "The handle is invalid. (os error 6)",
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "write 3", "abort", "close"},
         .message = "WritePrinter: " + not_ready,
         .maybe_printed = 1},
        {.name = "short writes: the rest follows until all is taken",
         .write_counts = {1, 1},
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "write 3", "write 2", "write 1", "end_page",
                   "end_doc", "close"}},
        {.name = "a count above the bytes given ends the writing", .write_counts = {7}, .calls = WHOLE_JOB},
        {.name = "a short write, then a failed one: deleted",
         .write_error = not_ready,
         .write_counts = {2},
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "write 3", "write 1", "abort", "close"},
         .message = "WritePrinter: " + not_ready,
         .maybe_printed = 1},
        {.name = "a write that takes nothing is a failed one",
         .write_counts = {1, 0},
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "write 3", "write 2", "abort", "close"},
         .message = "WritePrinter: el spooler no acepta mas datos (1 de 3 bytes escritos)",
         .maybe_printed = 1},
        {.name = "ending the document fails: deleted",
         .end_doc_error = "The printer is out of paper. (os error 28)",
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "write 3", "end_page", "end_doc", "abort",
                   "close"},
         .message = "EndDocPrinter: The printer is out of paper. (os error 28)",
         .maybe_printed = 1},
        {.name = "whole job", .calls = WHOLE_JOB},
        {.name = "empty data: one empty page, no write",
         .data = "",
         .calls = {"open ACME", "start_doc KORBA|null|RAW", "start_page", "end_page", "end_doc", "close"}},
        {.name = "blank name is a name",
         .printer = " ",
         .data = "A",
         .calls = {"open  ", "start_doc KORBA|null|RAW", "start_page", "write 1", "end_page", "end_doc", "close"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSpooler spooler;
        spooler.open_error = c.open_error;
        spooler.start_doc_error = c.start_doc_error;
        spooler.write_error = c.write_error;
        spooler.write_counts = c.write_counts;
        spooler.end_doc_error = c.end_doc_error;
        spooler.abort_error = c.abort_error;
        std::optional<JobNumber> maybe_printed;
        const auto result = print_raw(c.printer, c.data, &maybe_printed);
        EXPECT_EQ(spooler.calls, c.calls);
        EXPECT_EQ(maybe_printed, c.maybe_printed);
        if (c.message) {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error(), *c.message);
        } else {
            ASSERT_TRUE(result.ok()) << result.error();
            EXPECT_EQ(spooler.written, c.data);
            EXPECT_EQ(result.value(), 1u);  // the number the spooler gave the job
        }
    }
}

TEST(PrintRaw, NonAsciiNameReachesTheSpoolerUnchanged) {
    FakeSpooler spooler;
    spooler.open_error = std::string("Invalid printer name. (os error 1801)");
    const std::string name = "Caja Señor \xF0\x9F\x96\xA8";  // U+1F5A8 takes a surrogate pair
    const auto result = print_raw(name, "A");
    EXPECT_EQ(spooler.calls, Calls{"open " + name});
    EXPECT_EQ(result.error(), "no se pudo abrir la impresora \"" + name + "\" (Invalid printer name. (os error 1801))");
}

TEST(DrawerPulse, FiveBytesOfEscP) {
    EXPECT_EQ(drawer_pulse(DrawerPin::Pin2), std::string("\x1B\x70\x00\x19\xFA", 5));
    EXPECT_EQ(drawer_pulse(DrawerPin::Pin5), std::string("\x1B\x70\x01\x19\xFA", 5));
}

}  // namespace
}  // namespace korba
