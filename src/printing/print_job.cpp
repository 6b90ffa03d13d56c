#include "printing/print_job.h"

#include <algorithm>
#include <cstdint>

#include "common/text.h"
#include "printing/spooler.h"

namespace korba {

namespace {

// The spooler may take fewer bytes than it is given: the rest follows until it has all.
// A write that takes nothing would be repeated forever, so it counts as a failed one.
// `done` counts what the spooler took, also when a later write fails.
Status write_whole(Spooler& spool, PrinterHandle handle, std::string_view data, size_t& done) {
    while (done < data.size()) {
        const Result<std::uint32_t> written = spool.write(handle, data.substr(done));
        if (!written) return fail(written.error());
        if (written.value() == 0)
            return fail("el spooler no acepta mas datos (" + std::to_string(done) + " de " +
                        std::to_string(data.size()) + " bytes escritos)");
        done += std::min<size_t>(written.value(), data.size() - done);
    }
    return success();
}

// A job that did not reach the spooler whole is deleted, never left to print in part. Only a
// job that the spooler took nothing of, and whose deletion it confirmed, surely prints nothing.
Failure abandon_job(Spooler& spool, PrinterHandle handle, std::string message, JobNumber job, bool certain,
                    std::optional<JobNumber>* maybe_printed) {
    const Status aborted = spool.abort_doc(handle);
    spool.close_printer(handle);
    if (maybe_printed && !(certain && aborted)) *maybe_printed = job;
    return fail(std::move(message));
}

}  // namespace

Result<JobNumber> print_raw(const std::string& printer, std::string_view data,
                            std::optional<JobNumber>* maybe_printed) {
    if (printer.empty()) return fail("no hay impresora configurada (usa --printer \"NOMBRE\")");
    Spooler& spool = spooler();
    const std::u16string name = to_wide(printer);
    const Result<PrinterHandle> opened = spool.open_printer(name.c_str());
    if (!opened) return fail("no se pudo abrir la impresora \"" + printer + "\" (" + opened.error() + ")");
    const PrinterHandle handle = opened.value();

    const std::u16string document_name = to_wide(DOCUMENT_NAME);
    const std::u16string datatype = to_wide(RAW_DATATYPE);
    const Result<JobNumber> started = spool.start_doc(handle, {document_name.c_str(), nullptr, datatype.c_str()});
    if (!started) {
        spool.close_printer(handle);
        return fail("StartDocPrinter: " + started.error());
    }
    const JobNumber job = started.value();
    spool.start_page(handle);
    // Empty data still makes a job of one empty page; the spooler is never asked to write nothing.
    size_t taken = 0;
    if (const Status written = write_whole(spool, handle, data, taken); !written)
        return abandon_job(spool, handle, "WritePrinter: " + written.error(), job, taken == 0, maybe_printed);
    spool.end_page(handle);
    if (const Status ended = spool.end_doc(handle); !ended)
        return abandon_job(spool, handle, "EndDocPrinter: " + ended.error(), job, false, maybe_printed);
    spool.close_printer(handle);
    return job;
}

}  // namespace korba
