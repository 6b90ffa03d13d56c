// A print spooler for unit tests: records every call in order, plays back the failures and
// printers it is given, and lays out enumerations the way the Windows spooler does.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "printing/spooler.h"

namespace korba {

class FakeSpooler : public Spooler {
public:
    // Installs itself as the spooler for its lifetime.
    FakeSpooler();
    ~FakeSpooler() override;

    // Playback: a set text makes that call fail with it.
    std::optional<std::string> open_error;
    std::optional<std::string> start_doc_error;
    // The byte counts that the writes report in turn; a write past them fails with
    // write_error when that is set, and takes all it is given otherwise.
    std::vector<std::uint32_t> write_counts;
    std::optional<std::string> write_error;
    std::optional<std::string> end_doc_error;
    std::optional<std::string> abort_error;
    // Enumerated printers; nullopt is a record whose name pointer is null.
    std::vector<std::optional<std::u16string>> printers;
    // When set, the printers after the first enumeration (one added in between).
    std::optional<std::vector<std::optional<std::u16string>>> printers_later;
    std::optional<std::u16string> default_name;
    // The printer's state and queue; an unreadable one makes its query fail.
    PrinterState state{0, 0, 0, nullptr};
    std::optional<std::string> cups_reasons;
    // Where the printer prints: its Windows port, or its CUPS device URI.
    std::optional<std::u16string> port_name;
    std::optional<std::string> device_uri;
    bool state_unreadable = false;
    std::uint32_t job_count = 0;
    bool jobs_unreadable = false;
    // The number the next started document gets, counting up.
    JobNumber next_job = 1;
    // The jobs get_job knows (a missing one is gone); a set text makes get_job and delete_job fail.
    std::map<JobNumber, JobState> jobs;
    std::optional<std::string> job_error;
    bool keeps_history = true;
    // When set, the default printer after the first query (it changed in between).
    std::optional<std::u16string> default_name_later;

    // Records, e.g. "open ACME", "start_doc KORBA|null|RAW", "write 3" (bytes given), "close".
    std::vector<std::string> calls;
    std::string written;

    Result<PrinterHandle> open_printer(const char16_t* name) override;
    Result<JobNumber> start_doc(PrinterHandle printer, const DocumentInfo& document) override;
    void start_page(PrinterHandle printer) override;
    Result<std::uint32_t> write(PrinterHandle printer, std::string_view data) override;
    void end_page(PrinterHandle printer) override;
    Status end_doc(PrinterHandle printer) override;
    Status abort_doc(PrinterHandle printer) override;
    void close_printer(PrinterHandle printer) override;
    bool enum_printers(std::uint32_t flags, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                       std::uint32_t& returned) override;
    bool get_printer(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed) override;
    bool enum_jobs(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                   std::uint32_t& returned) override;
    Result<std::optional<JobState>> get_job(PrinterHandle printer, JobNumber job) override;
    // Records "delete N" and forgets the job.
    Status delete_job(PrinterHandle printer, JobNumber job) override;
    bool keeps_finished_jobs() const override { return keeps_history; }
    bool default_printer(char16_t* buffer, std::uint32_t& size) override;

private:
    void record(const std::string& call, PrinterHandle printer);
    int handle_token_ = 0;
    size_t writes_ = 0;
    int enumerations_ = 0;
    int default_queries_ = 0;
};

}  // namespace korba
