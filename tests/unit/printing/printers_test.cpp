#include "printing/printers.h"

#include <gtest/gtest.h>

#include "fakes/fake_spooler.h"

namespace korba {
namespace {

using Calls = std::vector<std::string>;
using Names = std::vector<std::string>;

TEST(ListPrinters, AsksForTheSizeThenReadsEveryRecordInOrder) {
    FakeSpooler spooler;
    spooler.printers = {u"Zeta", std::nullopt, u"Caña"};
    EXPECT_EQ(list_printers(), (Names{"Zeta", "", "Caña"}));
    // Three records, then "Zeta" and "Caña" with their NULs.
    const size_t needed = 3 * sizeof(PrinterInfo4) + 2 * 5 * sizeof(char16_t);
    EXPECT_EQ(spooler.calls, (Calls{"enum 6 size 0", "enum 6 size " + std::to_string(needed)}));
}

TEST(ListPrinters, EmptyWithoutPrintersOrWhenAPrinterArrivesBetweenTheCalls) {
    {
        FakeSpooler none;
        EXPECT_EQ(list_printers(), Names{});
        EXPECT_EQ(none.calls, Calls{"enum 6 size 0"});
    }
    FakeSpooler growing;
    growing.printers = {u"A"};
    growing.printers_later = std::vector<std::optional<std::u16string>>{u"A", u"B"};
    EXPECT_EQ(list_printers(), Names{});
    EXPECT_EQ(growing.calls.size(), 2u);  // no third attempt
}

TEST(ListPrinters, NamesAreCutAt4096UnitsAndDecodedLeniently) {
    FakeSpooler spooler;
    const std::u16string unpaired =
        u"a\xD800"
        u"b";
    spooler.printers = {std::u16string(5000, u'x'), unpaired, u"\xD83D\xDDA8"};
    const Names names = list_printers();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_EQ(names[0], std::string(4096, 'x'));
    EXPECT_EQ(names[1],
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(names[2], "\xF0\x9F\x96\xA8");
}

TEST(DefaultPrinter, TwoCallsSizedInUnitsWithTheNul) {
    FakeSpooler spooler;
    spooler.default_name = u"Caja 1";
    EXPECT_EQ(default_printer(), "Caja 1");
    EXPECT_EQ(spooler.calls, (Calls{"default size 0", "default size 7"}));
}

TEST(DefaultPrinter, EmptyWhenThereIsNoneOrItGrowsBetweenTheCalls) {
    {
        FakeSpooler none;
        EXPECT_EQ(default_printer(), "");
        EXPECT_EQ(none.calls, Calls{"default size 0"});
    }
    FakeSpooler changing;
    changing.default_name = u"Caja";
    changing.default_name_later = u"Caja principal";
    EXPECT_EQ(default_printer(), "");
    EXPECT_EQ(changing.calls, (Calls{"default size 0", "default size 5"}));
}

TEST(PrinterAccessible, OpensAndClosesAtOnce) {
    FakeSpooler spooler;
    EXPECT_FALSE(printer_accessible(""));
    EXPECT_EQ(spooler.calls, Calls{});
    EXPECT_TRUE(printer_accessible("ACME"));
    EXPECT_EQ(spooler.calls, (Calls{"open ACME", "close"}));
    spooler.calls.clear();
    spooler.open_error = "Invalid printer name. (os error 1801)";
    EXPECT_FALSE(printer_accessible("ACME"));
    EXPECT_EQ(spooler.calls, Calls{"open ACME"});
}

TEST(ResolvePrinter, ConfiguredThenDefaultThenFirstListed) {
    using Printers = std::vector<std::optional<std::u16string>>;
    struct Case {
        const char* name;
        std::string configured;
        std::optional<std::u16string> default_name;
        Printers printers;
        std::string expected;
    };
    const Case cases[] = {
        {"configured wins even if absent", "Otra", u"Caja", {u"A"}, "Otra"},
        {"default before the first listed", "", u"Caja", {u"A", u"Caja"}, "Caja"},
        {"first listed without a default", "", {}, {u"B", u"A"}, "B"},
        {"empty default counts as none", "", u"", {u"B"}, "B"},
        {"a nameless first record is still the first", "", {}, {std::nullopt, u"A"}, ""},
        {"nothing at all", "", {}, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeSpooler spooler;
        spooler.default_name = c.default_name;
        spooler.printers = c.printers;
        EXPECT_EQ(resolve_printer(c.configured), c.expected);
        if (!c.configured.empty()) {
            EXPECT_EQ(spooler.calls, Calls{});
        }
    }
}

}  // namespace
}  // namespace korba
