#include "printing/print_job.h"

#include "common/text.h"
#include "printing/spooler.h"

namespace korba {

Status print_raw(const std::string& printer, std::string_view data) {
    if (printer.empty()) return fail("no hay impresora configurada (usa --printer \"NOMBRE\")");
    Spooler& spool = spooler();
    const std::u16string name = to_wide(printer);
    const Result<PrinterHandle> opened = spool.open_printer(name.c_str());
    if (!opened) return fail("no se pudo abrir la impresora \"" + printer + "\" (" + opened.error() + ")");
    const PrinterHandle handle = opened.value();

    const std::u16string document_name = to_wide(DOCUMENT_NAME);
    const std::u16string datatype = to_wide(RAW_DATATYPE);
    const Status started = spool.start_doc(handle, {document_name.c_str(), nullptr, datatype.c_str()});
    if (!started) {
        spool.close_printer(handle);
        return fail("StartDocPrinter: " + started.error());
    }
    spool.start_page(handle);
    // Empty data still makes a job of one empty page; the spooler is never asked to write nothing.
    const Status written = data.empty() ? success() : spool.write(handle, data);
    // Even after a failed write the page and document are ended, so the spooler holds
    // an ended job rather than an open one.
    spool.end_page(handle);
    spool.end_doc(handle);
    spool.close_printer(handle);
    if (!written) return fail("WritePrinter: " + written.error());
    return success();
}

}  // namespace korba
