#include "printing/virtual_printer.h"

#include <gtest/gtest.h>

#include "common/text.h"
#include "printing/drawer.h"
#include "printing/print_job.h"
#include "printing/printers.h"
#include "printing/queue_state.h"

namespace korba {
namespace {

using Texts = std::vector<std::string>;

// The virtual printer as a preview run installs it, for one test.
struct Preview {
    VirtualPrinter printer{80};
    Preview() { use_preview_printer(&printer); }
    ~Preview() { use_preview_printer(nullptr); }

    Texts kept() const {
        Texts data;
        for (const PreviewTicket& ticket : printer.tickets()) data.push_back(*ticket.data);
        return data;
    }
    void print(const std::string& data) { ASSERT_TRUE(print_raw(VIRTUAL_PRINTER_NAME, data)); }
};

TEST(VirtualPrinter, IsTheOnlyPrinterAlwaysReadyAndKeepsWhatIsPrinted) {
    Preview preview;
    EXPECT_EQ(list_printers(), Texts{VIRTUAL_PRINTER_NAME});
    EXPECT_EQ(default_printer(), VIRTUAL_PRINTER_NAME);
    EXPECT_TRUE(printer_accessible(VIRTUAL_PRINTER_NAME));
    EXPECT_FALSE(printer_accessible("ACME"));
    const QueueState queue = read_queue_state(VIRTUAL_PRINTER_NAME);
    EXPECT_EQ(queue.state, "ready");
    EXPECT_EQ(queue.jobs, 0u);
    EXPECT_EQ(queue.reasons, Texts{});

    preview.print("uno");
    preview.print(drawer_pulse(DrawerPin::Pin5));
    // A document deleted halfway keeps nothing, nor do the handles that the queries open.
    VirtualPrinter& spool = preview.printer;
    const std::u16string name = to_wide(VIRTUAL_PRINTER_NAME);
    const PrinterHandle handle = spool.open_printer(name.c_str()).value();
    ASSERT_TRUE(spool.start_doc(handle, {u"KORBA", nullptr, u"RAW"}));
    ASSERT_EQ(spool.write(handle, "medio").value(), 5u);
    EXPECT_TRUE(spool.abort_doc(handle));
    spool.close_printer(handle);
    EXPECT_EQ(preview.kept(), (Texts{"\x1Bp\x01\x19\xFA", "uno"}));
}

TEST(VirtualPrinter, KeepsTheNewest50TicketsOf16MiBAtMost) {
    Preview by_count;
    for (int i = 0; i <= 50; ++i) by_count.print(std::to_string(i));
    const Texts kept = by_count.kept();
    ASSERT_EQ(kept.size(), PREVIEW_TICKETS);
    EXPECT_EQ(kept.front(), "50");
    EXPECT_EQ(kept.back(), "1");

    Preview by_bytes;
    const std::string half(PREVIEW_BYTES / 2, 'h');
    const std::string less(PREVIEW_BYTES / 2 - 1, 'l');
    by_bytes.print("a");
    by_bytes.print(less);
    by_bytes.print(half);
    EXPECT_EQ(by_bytes.kept(), (Texts{half, less, "a"}));
    by_bytes.print("z");
    EXPECT_EQ(by_bytes.kept(), (Texts{"z", half, less}));
    by_bytes.print("yy");
    EXPECT_EQ(by_bytes.kept(), (Texts{"yy", "z", half}));
}

}  // namespace
}  // namespace korba
