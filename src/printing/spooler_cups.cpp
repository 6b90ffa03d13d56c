// CUPS standing in for the Windows spooler: an open printer is a checked destination,
// a document is one CUPS job, its data one raw document streamed write by write.
#include <cups/cups.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/text.h"
#include "printing/spooler.h"

namespace korba {

namespace {

Failure cups_failure(ipp_status_t status, const char* text) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%04X", static_cast<unsigned>(status));
    return fail(std::string(text && *text ? text : ippErrorString(status)) + " (cups error " + code + ")");
}

// CUPS keeps its last error per thread; this is read right after the failed call.
Failure last_cups_error() { return cups_failure(cupsLastError(), cupsLastErrorString()); }

// Worded as libcups words a connection that fails.
Failure connect_failure() { return cups_failure(IPP_STATUS_ERROR_SERVICE_UNAVAILABLE, std::strerror(errno)); }

struct CupsPrinter {
    std::string name;
    std::string title;
    std::string format;
    // The job's own connection to the scheduler, so that a cancel can still be sent on the
    // thread's usual one while a document is half written here.
    http_t* connection = nullptr;
    int job_id = 0;
    bool document_started = false;
};

CupsPrinter& printer_of(PrinterHandle handle) { return *static_cast<CupsPrinter*>(handle); }

// The attributes `wanted` of the printer or job at `uri`, or null when the scheduler does not
// answer for such a printer or job.
template <size_t Count>
ipp_t* ask(ipp_op_t operation, const char* uri_kind, const std::string& uri, const char* const (&wanted)[Count]) {
    ipp_t* request = ippNewRequest(operation);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, uri_kind, nullptr, uri.c_str());
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", Count, nullptr, wanted);
    ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");
    if (response && cupsLastError() <= IPP_STATUS_OK_CONFLICTING) return response;
    ippDelete(response);
    return nullptr;
}

ipp_t* ask_printer(const std::string& name) {
    char uri[HTTP_MAX_URI];
    httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", 0, "/printers/%s",
                     name.c_str());
    static const char* const wanted[] = {"printer-state", "printer-state-reasons", "device-uri"};
    return ask(IPP_OP_GET_PRINTER_ATTRIBUTES, "printer-uri", uri, wanted);
}

ipp_t* ask_job(JobNumber job) {
    static const char* const wanted[] = {"job-state", "job-state-reasons"};
    return ask(IPP_OP_GET_JOB_ATTRIBUTES, "job-uri", "ipp://localhost/jobs/" + std::to_string(job), wanted);
}

// The keywords of one attribute joined by commas.
std::string keywords(ipp_t* answer, const char* name) {
    std::string reasons;
    ipp_attribute_t* attribute = ippFindAttribute(answer, name, IPP_TAG_KEYWORD);
    for (int i = 0; attribute && i < ippGetCount(attribute); ++i) {
        if (i > 0) reasons += ',';
        reasons += ippGetString(attribute, i, nullptr);
    }
    return reasons;
}

std::vector<std::u16string> destination_names() {
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::vector<std::u16string> names;
    for (int i = 0; i < count; ++i)
        if (!dests[i].instance) names.push_back(to_wide(dests[i].name));  // instances repeat a queue
    cupsFreeDests(count, dests);
    return names;
}

class CupsSpooler final : public Spooler {
public:
    Result<PrinterHandle> open_printer(const char16_t* name) override {
        auto printer = std::make_unique<CupsPrinter>();
        printer->name = from_wide(name);
        ipp_t* answer = ask_printer(printer->name);
        if (!answer) return last_cups_error();
        ippDelete(answer);
        return PrinterHandle{printer.release()};
    }
    Result<JobNumber> start_doc(PrinterHandle handle, const DocumentInfo& document) override {
        CupsPrinter& printer = printer_of(handle);
        printer.title = from_wide(document.document_name);
        const std::string datatype = from_wide(document.datatype);
        printer.format = datatype == "RAW" ? CUPS_FORMAT_RAW : datatype;
        printer.connection =
            httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr);
        if (!printer.connection) return connect_failure();
        printer.job_id = cupsCreateJob(printer.connection, printer.name.c_str(), printer.title.c_str(), 0, nullptr);
        if (printer.job_id == 0) return last_cups_error();
        return static_cast<JobNumber>(printer.job_id);
    }
    // A raw CUPS job has no pages.
    void start_page(PrinterHandle) override {}
    // The job's one document is started by the first write; CUPS takes each write whole or not at all.
    Result<std::uint32_t> write(PrinterHandle handle, std::string_view data) override {
        CupsPrinter& printer = printer_of(handle);
        if (!printer.document_started) {
            if (cupsStartDocument(printer.connection, printer.name.c_str(), printer.job_id, printer.title.c_str(),
                                  printer.format.c_str(), 1) != HTTP_STATUS_CONTINUE)
                return last_cups_error();
            printer.document_started = true;
        }
        if (cupsWriteRequestData(printer.connection, data.data(), data.size()) != HTTP_STATUS_CONTINUE)
            return last_cups_error();
        return static_cast<std::uint32_t>(data.size());
    }
    void end_page(PrinterHandle) override {}
    // The scheduler's verdict on the document. CUPS refuses an empty document, and a job
    // without one would wait for it: such a job is cancelled, which ends it.
    Status end_doc(PrinterHandle handle) override {
        CupsPrinter& printer = printer_of(handle);
        if (!printer.document_started) {
            cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.name.c_str(), printer.job_id, 0);
            return success();
        }
        if (cupsFinishDocument(printer.connection, printer.name.c_str()) > IPP_STATUS_OK_CONFLICTING)
            return last_cups_error();
        return success();
    }
    // Dropping the job's connection drops a half-sent document; the cancel then removes the job.
    Status abort_doc(PrinterHandle handle) override {
        CupsPrinter& printer = printer_of(handle);
        httpClose(printer.connection);
        printer.connection = nullptr;
        if (!cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.name.c_str(), printer.job_id, 0)) return last_cups_error();
        return success();
    }
    void close_printer(PrinterHandle handle) override {
        CupsPrinter* printer = static_cast<CupsPrinter*>(handle);
        httpClose(printer->connection);
        delete printer;
    }

    bool enum_printers(std::uint32_t, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                       std::uint32_t& returned) override {
        return pack_printer_records(destination_names(), buffer, size, needed, returned);
    }
    // Packs printer-state, printer-state-reasons and device-uri into a state record, the texts after it.
    bool get_printer(PrinterHandle handle, std::byte* buffer, std::uint32_t size, std::uint32_t& needed) override {
        needed = 0;
        ipp_t* answer = ask_printer(printer_of(handle).name);
        if (!answer) return false;
        ipp_attribute_t* state = ippFindAttribute(answer, "printer-state", IPP_TAG_ENUM);
        const auto state_value = static_cast<std::uint32_t>(state ? ippGetInteger(state, 0) : 0);
        const std::string reasons = keywords(answer, "printer-state-reasons");
        ipp_attribute_t* device = ippFindAttribute(answer, "device-uri", IPP_TAG_URI);
        const std::string uri = device ? ippGetString(device, 0, nullptr) : "";
        ippDelete(answer);
        needed = static_cast<std::uint32_t>(sizeof(PrinterState) + reasons.size() + 1 + uri.size() + 1);
        if (!state || needed > size) return false;
        char* text = reinterpret_cast<char*>(buffer + sizeof(PrinterState));
        std::memcpy(text, reasons.c_str(), reasons.size() + 1);
        char* uri_text = text + reasons.size() + 1;
        std::memcpy(uri_text, uri.c_str(), uri.size() + 1);
        *reinterpret_cast<PrinterState*>(buffer) = {0, 0, state_value, text, nullptr, device ? uri_text : nullptr};
        return true;
    }
    // The jobs not yet completed, cancelled or aborted, of every user; one job id each.
    bool enum_jobs(PrinterHandle handle, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                   std::uint32_t& returned) override {
        cups_job_t* jobs = nullptr;
        const int count = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer_of(handle).name.c_str(), 0,
                                       CUPS_WHICHJOBS_ACTIVE);
        needed = returned = 0;
        const bool answered = count >= 0;
        if (answered) needed = static_cast<std::uint32_t>(count * sizeof(std::uint32_t));
        const bool fits = answered && needed <= size;
        for (int i = 0; fits && i < count; ++i) {
            const auto id = static_cast<std::uint32_t>(jobs[i].id);
            std::memcpy(buffer + i * sizeof id, &id, sizeof id);
            ++returned;
        }
        cupsFreeJobs(count, jobs);
        return fits;
    }
    Result<std::optional<JobState>> get_job(PrinterHandle, JobNumber job) override {
        ipp_t* answer = ask_job(job);
        if (!answer) {
            if (cupsLastError() == IPP_STATUS_ERROR_NOT_FOUND) return std::optional<JobState>();
            return last_cups_error();
        }
        ipp_attribute_t* state = ippFindAttribute(answer, "job-state", IPP_TAG_ENUM);
        JobState job_state{0, static_cast<std::uint32_t>(state ? ippGetInteger(state, 0) : 0),
                           keywords(answer, "job-state-reasons")};
        ippDelete(answer);
        return std::optional<JobState>(std::move(job_state));
    }
    Status delete_job(PrinterHandle handle, JobNumber job) override {
        if (cupsCancelJob2(CUPS_HTTP_DEFAULT, printer_of(handle).name.c_str(), static_cast<int>(job), 0) >
            IPP_STATUS_OK_CONFLICTING)
            return last_cups_error();
        return success();
    }
    bool keeps_finished_jobs() const override { return true; }
    bool default_printer(char16_t* buffer, std::uint32_t& size) override {
        cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
        if (!dest) return false;
        const std::u16string name = to_wide(dest->name);
        cupsFreeDests(1, dest);
        return pack_printer_name(name, buffer, size);
    }
};

}  // namespace

Spooler& system_spooler() {
    static CupsSpooler instance;
    return instance;
}

}  // namespace korba
