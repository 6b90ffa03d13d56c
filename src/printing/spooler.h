// The print spooler seam: one method per spooler call the printing code makes, shaped
// like the Windows spooler, so the order of calls is written once in portable code and
// a fake can record it. The real spooler is winspool on Windows and CUPS elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace korba {

using PrinterHandle = void*;

// The level-1 document record; a null output file sends the job to the printer's port.
struct DocumentInfo {
    const char16_t* document_name;
    const char16_t* output_file;
    const char16_t* datatype;
};

// The level-4 printer record as the enumeration lays it out, its strings after the records.
struct PrinterInfo4 {
    const char16_t* printer_name;
    const char16_t* server_name;
    std::uint32_t attributes;
};

// A printer's state, filled by one spooler call with its strings after it: Windows gives the
// status flags, attributes and port of its level-2 printer record, CUPS its printer-state,
// printer-state-reasons and device-uri. The other platform's fields stay zero.
struct PrinterState {
    std::uint32_t status;       // PRINTER_STATUS_* flags
    std::uint32_t attributes;   // PRINTER_ATTRIBUTE_* flags
    std::uint32_t cups_state;   // 3 idle, 4 processing, 5 stopped
    const char* cups_reasons;   // the keywords as CUPS sends them, comma-separated, or null
    const char16_t* port_name = nullptr;  // the Windows port the printer prints to
    const char* device_uri = nullptr;     // where CUPS sends the printer's jobs
};

// A job's state as one spooler call gives it: Windows its JOB_STATUS_* flags, CUPS its
// job-state and job-state-reasons. The other platform's fields stay zero.
struct JobState {
    std::uint32_t status = 0;      // JOB_STATUS_* flags
    std::uint32_t cups_state = 0;  // 3 pending, 4 held, 5 processing, 6 stopped, 7 canceled, 8 aborted, 9 completed
    std::string cups_reasons;      // the keywords as CUPS sends them, comma-separated
};

// The spooler's number for a job; 0 when it gave none.
using JobNumber = std::uint32_t;

// Local printers (2) plus printer connections (4).
inline constexpr std::uint32_t PRINTER_ENUM_LOCAL_AND_CONNECTIONS = 6;

class Spooler {
public:
    virtual ~Spooler() = default;
    // A failed call gives the system's error text, taken right after the call.
    virtual Result<PrinterHandle> open_printer(const char16_t* name) = 0;
    // Gives the number of the job it started.
    virtual Result<JobNumber> start_doc(PrinterHandle printer, const DocumentInfo& document) = 0;
    virtual void start_page(PrinterHandle printer) = 0;
    // Gives the number of bytes from the start of `data` that the spooler took, possibly fewer.
    virtual Result<std::uint32_t> write(PrinterHandle printer, std::string_view data) = 0;
    virtual void end_page(PrinterHandle printer) = 0;
    virtual Status end_doc(PrinterHandle printer) = 0;
    // Deletes the document being written, so that no part of it prints; a failure when the
    // spooler did not confirm the deletion.
    virtual Status abort_doc(PrinterHandle printer) = 0;
    virtual void close_printer(PrinterHandle printer) = 0;
    // Fills `buffer` with level-4 records when `size` bytes suffice; `needed` always gets
    // the byte count a full answer takes, `returned` the number of records written.
    virtual bool enum_printers(std::uint32_t flags, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                               std::uint32_t& returned) = 0;
    // Fills `buffer` with the printer's state when `size` bytes suffice; `needed` always gets
    // the byte count a full answer takes.
    virtual bool get_printer(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed) = 0;
    // Fills `buffer` with one record for each job in the printer's queue that has not finished
    // when `size` bytes suffice; `needed` and `returned` as for the enumeration of printers.
    virtual bool enum_jobs(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                           std::uint32_t& returned) = 0;
    // The job's state; nullopt when the spooler no longer knows the job, a failure when it
    // could not be asked.
    virtual Result<std::optional<JobState>> get_job(PrinterHandle printer, JobNumber job) = 0;
    // Deletes the job from the printer's queue.
    virtual Status delete_job(PrinterHandle printer, JobNumber job) = 0;
    // Whether a finished job stays known to get_job (CUPS keeps a history) or leaves at once (Windows).
    virtual bool keeps_finished_jobs() const = 0;
    // Copies the default printer's name with its NUL when `size` UTF-16 units suffice;
    // writes back the size needed. False when there is no default or no room.
    virtual bool default_printer(char16_t* buffer, std::uint32_t& size) = 0;
};

// The printer's state record, in a buffer sized by a first call, or nullopt when it cannot be read.
std::optional<std::vector<std::byte>> read_printer_state(Spooler& spool, PrinterHandle printer);
// Lays `names` out as the Windows spooler lays out level-4 records, their strings after them,
// for the spoolers that are not Windows's; the arguments as for Spooler::enum_printers.
bool pack_printer_records(const std::vector<std::u16string>& names, std::byte* buffer, std::uint32_t size,
                          std::uint32_t& needed, std::uint32_t& returned);
// Copies `name` with its NUL when `size` units suffice, as for Spooler::default_printer.
bool pack_printer_name(const std::u16string& name, char16_t* buffer, std::uint32_t& size);

// The spooler in use; `replacement` nullptr restores the system's.
Spooler& spooler();
void set_spooler(Spooler* replacement);
// The platform's real spooler (winspool or CUPS).
Spooler& system_spooler();

}  // namespace korba
