// The virtual printer of a preview run: a spooler that keeps each finished job in memory as a
// ticket for the panel to draw, instead of printing it. Each printer of the run (the main one and
// one per alias) keeps its own newest tickets, bounded in number and in bytes; nothing is written
// anywhere.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "printing/spooler.h"

namespace korba {

inline constexpr const char* VIRTUAL_PRINTER_NAME = "KORBA vista previa";
inline constexpr size_t PREVIEW_TICKETS = 50;
inline constexpr size_t PREVIEW_BYTES = 16 * 1024 * 1024;

// The virtual printer that stands for an alias's printer: "KORBA vista previa (cocina)".
std::string preview_printer_name(std::string_view alias);

struct PreviewTicket {
    std::chrono::system_clock::time_point received;
    JobNumber job;  // the number its document was given, by which the ticket book knows it
    // Shared, so that a reader copies the list without copying the bytes.
    std::shared_ptr<const std::string> data;
};

class VirtualPrinter final : public Spooler {
public:
    using Clock = std::chrono::system_clock::time_point (*)();

    // `paper`: the roll's width in millimetres, 58 or 80.
    explicit VirtualPrinter(int paper, Clock now = std::chrono::system_clock::now);

    int paper() const { return paper_; }
    // One more virtual printer, before any thread prints.
    void add_printer(const std::string& name);
    // Newest first.
    std::vector<PreviewTicket> tickets(const std::string& printer = VIRTUAL_PRINTER_NAME) const;

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
    Status delete_job(PrinterHandle printer, JobNumber job) override;
    bool keeps_finished_jobs() const override { return false; }
    bool default_printer(char16_t* buffer, std::uint32_t& size) override;

private:
    struct Kept {
        std::deque<PreviewTicket> tickets;  // oldest first
        size_t bytes = 0;
    };
    void keep(Kept& kept, std::string data, JobNumber job);

    const int paper_;
    const Clock now_;
    std::vector<std::string> names_;  // the main printer first
    mutable std::mutex lock_;
    std::map<std::string, Kept, std::less<>> kept_;
    JobNumber last_job_ = 0;
};

// The virtual printer of this run, or null when the bridge prints to a real one.
VirtualPrinter* preview_printer();
// Makes `printer` the spooler and the preview of this run, before any thread runs; nullptr
// restores the system's spooler.
void use_preview_printer(VirtualPrinter* printer);

}  // namespace korba
