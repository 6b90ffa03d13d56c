#include "fakes/fake_spooler.h"

#include <cstring>

#include "common/text.h"

namespace korba {

namespace {

std::string text_or_null(const char16_t* text) { return text ? from_wide(text) : "null"; }

}  // namespace

FakeSpooler::FakeSpooler() { set_spooler(this); }
FakeSpooler::~FakeSpooler() { set_spooler(nullptr); }

void FakeSpooler::record(const std::string& call, PrinterHandle printer) {
    calls.push_back(printer == &handle_token_ ? call : call + " (foreign handle)");
}

Result<PrinterHandle> FakeSpooler::open_printer(const char16_t* name) {
    calls.push_back("open " + from_wide(name));
    if (open_error) return fail(*open_error);
    return PrinterHandle{&handle_token_};
}

Result<JobNumber> FakeSpooler::start_doc(PrinterHandle printer, const DocumentInfo& document) {
    record("start_doc " + text_or_null(document.document_name) + "|" + text_or_null(document.output_file) + "|" +
               text_or_null(document.datatype),
           printer);
    if (start_doc_error) return fail(*start_doc_error);
    return next_job++;
}

void FakeSpooler::start_page(PrinterHandle printer) { record("start_page", printer); }

Result<std::uint32_t> FakeSpooler::write(PrinterHandle printer, std::string_view data) {
    record("write " + std::to_string(data.size()), printer);
    const size_t turn = writes_++;
    if (turn >= write_counts.size() && write_error) return fail(*write_error);
    const auto taken = turn < write_counts.size() ? write_counts[turn] : static_cast<std::uint32_t>(data.size());
    written.append(data.substr(0, taken));
    return taken;
}

void FakeSpooler::end_page(PrinterHandle printer) { record("end_page", printer); }

Status FakeSpooler::end_doc(PrinterHandle printer) {
    record("end_doc", printer);
    if (end_doc_error) return fail(*end_doc_error);
    return success();
}

Status FakeSpooler::abort_doc(PrinterHandle printer) {
    record("abort", printer);
    if (abort_error) return fail(*abort_error);
    return success();
}
void FakeSpooler::close_printer(PrinterHandle printer) { record("close", printer); }

bool FakeSpooler::enum_printers(std::uint32_t flags, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                                std::uint32_t& returned) {
    calls.push_back("enum " + std::to_string(flags) + " size " + std::to_string(size));
    const auto& names = enumerations_++ > 0 && printers_later ? *printers_later : printers;
    size_t total = names.size() * sizeof(PrinterInfo4);
    for (const auto& name : names)
        if (name) total += (name->size() + 1) * sizeof(char16_t);
    needed = static_cast<std::uint32_t>(total);
    if (total > size) return false;
    auto* records = reinterpret_cast<PrinterInfo4*>(buffer);
    auto* strings = reinterpret_cast<char16_t*>(buffer + names.size() * sizeof(PrinterInfo4));
    returned = 0;
    for (const auto& name : names) {
        records[returned++] = {name ? strings : nullptr, nullptr, 0};
        if (!name) continue;
        std::memcpy(strings, name->c_str(), (name->size() + 1) * sizeof(char16_t));
        strings += name->size() + 1;
    }
    return true;
}

bool FakeSpooler::get_printer(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed) {
    record("get_printer size " + std::to_string(size), printer);
    const size_t reasons = cups_reasons ? cups_reasons->size() + 1 : 0;
    const size_t port = port_name ? (port_name->size() + 1) * sizeof(char16_t) : 0;
    const size_t uri = device_uri ? device_uri->size() + 1 : 0;
    needed = static_cast<std::uint32_t>(sizeof(PrinterState) + port + reasons + uri);
    if (state_unreadable || needed > size) return false;
    PrinterState filled = state;
    std::byte* text = buffer + sizeof(PrinterState);
    // The wide text first, where it stays aligned.
    if (port_name) {
        std::memcpy(text, port_name->c_str(), port);
        filled.port_name = reinterpret_cast<const char16_t*>(text);
        text += port;
    }
    if (cups_reasons) {
        std::memcpy(text, cups_reasons->c_str(), reasons);
        filled.cups_reasons = reinterpret_cast<const char*>(text);
        text += reasons;
    }
    if (device_uri) {
        std::memcpy(text, device_uri->c_str(), uri);
        filled.device_uri = reinterpret_cast<const char*>(text);
    }
    std::memcpy(buffer, &filled, sizeof filled);
    return true;
}

bool FakeSpooler::enum_jobs(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                            std::uint32_t& returned) {
    record("enum_jobs size " + std::to_string(size), printer);
    needed = job_count * 4;
    returned = 0;
    if (jobs_unreadable || needed > size) return false;
    if (needed) std::memset(buffer, 0xAB, needed);
    returned = job_count;
    return true;
}

Result<std::optional<JobState>> FakeSpooler::get_job(PrinterHandle printer, JobNumber job) {
    record("get_job " + std::to_string(job), printer);
    if (job_error) return fail(*job_error);
    const auto found = jobs.find(job);
    if (found == jobs.end()) return std::optional<JobState>();
    return std::optional<JobState>(found->second);
}

Status FakeSpooler::delete_job(PrinterHandle printer, JobNumber job) {
    record("delete " + std::to_string(job), printer);
    if (job_error) return fail(*job_error);
    jobs.erase(job);
    return success();
}

bool FakeSpooler::default_printer(char16_t* buffer, std::uint32_t& size) {
    calls.push_back("default size " + std::to_string(size));
    const auto& name = default_queries_++ > 0 && default_name_later ? default_name_later : default_name;
    if (!name) return false;
    const auto units = static_cast<std::uint32_t>(name->size() + 1);
    const bool fits = buffer && size >= units;
    if (fits) std::memcpy(buffer, name->c_str(), units * sizeof(char16_t));
    size = units;
    return fits;
}

}  // namespace korba
