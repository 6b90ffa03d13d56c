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
        std::string printer;
        std::string data;
        std::optional<std::string> open_error, start_doc_error, write_error;
        Calls calls;
        std::optional<std::string> message;
    };
    const Case cases[] = {
        {"empty name touches nothing",
         "",
         "ABC",
         {},
         {},
         {},
         {},
         "no hay impresora configurada (usa --printer \"NOMBRE\")"},
        {"open fails: nothing to close",
         "ACME",
         "ABC",
         "Invalid printer name. (os error 1801)",
         {},
         {},
         {"open ACME"},
         "no se pudo abrir la impresora \"ACME\" (Invalid printer name. (os error 1801))"},
        {"start document fails: printer closed, no document ended",
         "ACME",
         "ABC",
         {},
         "Access is denied. (os error 5)",
         {},
         {"open ACME", "start_doc KORBA|null|RAW", "close"},
         "StartDocPrinter: Access is denied. (os error 5)"},
        {"write fails: page and document still ended",
         "ACME",
         "ABC",
         {},
         {},
         "The device is not ready. (os error 21)",
         WHOLE_JOB,
         "WritePrinter: The device is not ready. (os error 21)"},
        {"whole job", "ACME", "ABC", {}, {}, {}, WHOLE_JOB, {}},
        {"empty data: one empty page, no write",
         "ACME",
         "",
         {},
         {},
         {},
         {"open ACME", "start_doc KORBA|null|RAW", "start_page", "end_page", "end_doc", "close"},
         {}},
        {"blank name is a name",
         " ",
         "A",
         {},
         {},
         {},
         {"open  ", "start_doc KORBA|null|RAW", "start_page", "write 1", "end_page", "end_doc", "close"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSpooler spooler;
        spooler.open_error = c.open_error;
        spooler.start_doc_error = c.start_doc_error;
        spooler.write_error = c.write_error;
        const Status result = print_raw(c.printer, c.data);
        EXPECT_EQ(spooler.calls, c.calls);
        if (c.message) {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error(), *c.message);
        } else {
            EXPECT_TRUE(result.ok()) << result.error();
            EXPECT_EQ(spooler.written, c.data);
        }
    }
}

TEST(PrintRaw, NonAsciiNameReachesTheSpoolerUnchanged) {
    FakeSpooler spooler;
    spooler.open_error = std::string("Invalid printer name. (os error 1801)");
    const std::string name = "Caja Señor \xF0\x9F\x96\xA8";  // U+1F5A8 takes a surrogate pair
    const Status result = print_raw(name, "A");
    EXPECT_EQ(spooler.calls, Calls{"open " + name});
    EXPECT_EQ(result.error(), "no se pudo abrir la impresora \"" + name + "\" (Invalid printer name. (os error 1801))");
}

TEST(DrawerPulse, FiveBytesOfEscP) {
    EXPECT_EQ(drawer_pulse(DrawerPin::Pin2), std::string("\x1B\x70\x00\x19\xFA", 5));
    EXPECT_EQ(drawer_pulse(DrawerPin::Pin5), std::string("\x1B\x70\x01\x19\xFA", 5));
}

}  // namespace
}  // namespace korba
