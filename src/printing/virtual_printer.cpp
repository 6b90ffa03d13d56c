#include "printing/virtual_printer.h"

#include "common/text.h"

namespace korba {

namespace {

// One open printer handle: the job being written on it, kept only once its document ends.
struct OpenJob {
    std::string printer;
    std::string data;
    JobNumber job = 0;
};

OpenJob& job_of(PrinterHandle handle) { return *static_cast<OpenJob*>(handle); }

VirtualPrinter* active_preview = nullptr;

}  // namespace

std::string preview_printer_name(std::string_view alias) {
    return std::string(VIRTUAL_PRINTER_NAME) + " (" + std::string(alias) + ")";
}

VirtualPrinter::VirtualPrinter(int paper, Clock now) : paper_(paper), now_(now) { add_printer(VIRTUAL_PRINTER_NAME); }

void VirtualPrinter::add_printer(const std::string& name) {
    names_.push_back(name);
    kept_[name];
}

std::vector<PreviewTicket> VirtualPrinter::tickets(const std::string& printer) const {
    std::lock_guard guard(lock_);
    const auto found = kept_.find(printer);
    if (found == kept_.end()) return {};
    return {found->second.tickets.rbegin(), found->second.tickets.rend()};
}

void VirtualPrinter::keep(Kept& kept, std::string data, JobNumber job) {
    PreviewTicket ticket{now_(), job, std::make_shared<const std::string>(std::move(data))};
    std::lock_guard guard(lock_);
    kept.bytes += ticket.data->size();
    kept.tickets.push_back(std::move(ticket));
    while (kept.tickets.size() > PREVIEW_TICKETS || kept.bytes > PREVIEW_BYTES) {
        kept.bytes -= kept.tickets.front().data->size();
        kept.tickets.pop_front();
    }
}

Result<PrinterHandle> VirtualPrinter::open_printer(const char16_t* name) {
    std::string printer = from_wide(name);
    if (!kept_.contains(printer))
        return fail(std::string("en vista previa solo existe la impresora \"") + VIRTUAL_PRINTER_NAME + "\"");
    return PrinterHandle{new OpenJob{std::move(printer), {}, 0}};
}

Result<JobNumber> VirtualPrinter::start_doc(PrinterHandle printer, const DocumentInfo&) {
    job_of(printer).data.clear();
    std::lock_guard guard(lock_);
    return job_of(printer).job = ++last_job_;
}

void VirtualPrinter::start_page(PrinterHandle) {}

Result<std::uint32_t> VirtualPrinter::write(PrinterHandle printer, std::string_view data) {
    job_of(printer).data.append(data);
    return static_cast<std::uint32_t>(data.size());
}

void VirtualPrinter::end_page(PrinterHandle) {}

Status VirtualPrinter::end_doc(PrinterHandle printer) {
    OpenJob& open = job_of(printer);
    // The set of printers is settled before any thread prints, so the store stays where it is.
    keep(kept_.find(open.printer)->second, std::move(open.data), open.job);
    job_of(printer).data.clear();
    return success();
}

Status VirtualPrinter::abort_doc(PrinterHandle printer) {
    job_of(printer).data.clear();
    return success();
}

void VirtualPrinter::close_printer(PrinterHandle printer) { delete static_cast<OpenJob*>(printer); }

bool VirtualPrinter::enum_printers(std::uint32_t, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                                   std::uint32_t& returned) {
    std::vector<std::u16string> names;
    for (const std::string& name : names_) names.push_back(to_wide(name));
    return pack_printer_records(names, buffer, size, needed, returned);
}

// Always ready: no status flags, no reasons.
bool VirtualPrinter::get_printer(PrinterHandle, std::byte* buffer, std::uint32_t size, std::uint32_t& needed) {
    needed = sizeof(PrinterState);
    if (size < needed) return false;
    *reinterpret_cast<PrinterState*>(buffer) = {0, 0, 0, nullptr};
    return true;
}

// A kept ticket is done at once, so the queue is always empty.
bool VirtualPrinter::enum_jobs(PrinterHandle, std::byte*, std::uint32_t, std::uint32_t& needed,
                               std::uint32_t& returned) {
    needed = returned = 0;
    return true;
}

// A kept ticket has left the queue, as a printed job leaves a Windows one.
Result<std::optional<JobState>> VirtualPrinter::get_job(PrinterHandle, JobNumber) {
    return std::optional<JobState>();
}

// Its tickets are done as they arrive: there is nothing left to delete.
Status VirtualPrinter::delete_job(PrinterHandle, JobNumber) { return fail("la vista previa no tiene cola"); }

bool VirtualPrinter::default_printer(char16_t* buffer, std::uint32_t& size) {
    return pack_printer_name(to_wide(VIRTUAL_PRINTER_NAME), buffer, size);
}

VirtualPrinter* preview_printer() { return active_preview; }

void use_preview_printer(VirtualPrinter* printer) {
    active_preview = printer;
    set_spooler(printer);
}

}  // namespace korba
