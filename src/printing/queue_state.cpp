#include "printing/queue_state.h"

#include <optional>
#include <string_view>

#include "common/text.h"

namespace korba {

namespace {

// PRINTER_STATUS_* flags in bit order, with the words they are reported by.
struct StatusFlag {
    std::uint32_t bit;
    const char* word;
};
constexpr StatusFlag STATUS_FLAGS[] = {
    {0x00000001, "paused"},         {0x00000002, "error"},
    {0x00000004, "pending-deletion"}, {0x00000008, "paper-jam"},
    {0x00000010, "paper-out"},      {0x00000020, "manual-feed"},
    {0x00000040, "paper-problem"},  {0x00000080, "offline"},
    {0x00000100, "io-active"},      {0x00000200, "busy"},
    {0x00000400, "printing"},       {0x00000800, "output-bin-full"},
    {0x00001000, "not-available"},  {0x00002000, "waiting"},
    {0x00004000, "processing"},     {0x00008000, "initializing"},
    {0x00010000, "warming-up"},     {0x00020000, "toner-low"},
    {0x00040000, "no-toner"},       {0x00080000, "page-punt"},
    {0x00100000, "user-intervention"}, {0x00200000, "out-of-memory"},
    {0x00400000, "door-open"},      {0x00800000, "server-unknown"},
    {0x01000000, "power-save"},     {0x02000000, "server-offline"},
    {0x04000000, "driver-update-needed"},
};
constexpr std::uint32_t STATUS_PAUSED = 0x00000001;
constexpr std::uint32_t STATUS_OFFLINE = 0x00000080 | 0x00001000 | 0x00800000 | 0x02000000;
// Flags that wait for a person: error, jam, paper out, manual feed, paper problem, bin full,
// no toner, page punt, user intervention, out of memory, door open.
constexpr std::uint32_t STATUS_NEEDS_A_PERSON = 0x00000002 | 0x00000008 | 0x00000010 | 0x00000020 | 0x00000040 |
                                                0x00000800 | 0x00040000 | 0x00080000 | 0x00100000 | 0x00200000 |
                                                0x00400000;
constexpr std::uint32_t STATUS_PRINTING = 0x00000400 | 0x00004000;
constexpr std::uint32_t ATTRIBUTE_WORK_OFFLINE = 0x00000400;

constexpr std::uint32_t CUPS_PROCESSING = 4;
constexpr std::uint32_t CUPS_STOPPED = 5;

bool has(const std::vector<std::string>& keywords, std::string_view wanted) {
    for (const std::string& keyword : keywords)
        if (keyword == wanted) return true;
    return false;
}

bool any_error_keyword(const std::vector<std::string>& keywords) {
    for (const std::string& keyword : keywords)
        if (keyword.ends_with("-error")) return true;
    return false;
}

const char* state_of(const PrinterState& printer, const std::vector<std::string>& keywords, std::uint32_t jobs) {
    const bool stopped = printer.cups_state == CUPS_STOPPED;
    if ((printer.status & STATUS_PAUSED) || (stopped && has(keywords, "paused"))) return "paused";
    if ((printer.status & STATUS_OFFLINE) || (printer.attributes & ATTRIBUTE_WORK_OFFLINE) ||
        has(keywords, "offline-report") || has(keywords, "connecting-to-device"))
        return "offline";
    // A queue that CUPS stopped by itself is one whose device failed.
    if ((printer.status & STATUS_NEEDS_A_PERSON) || any_error_keyword(keywords) || stopped) return "error";
    if ((printer.status & STATUS_PRINTING) || printer.cups_state == CUPS_PROCESSING || jobs > 0) return "printing";
    return "ready";
}

std::optional<std::uint32_t> count_jobs(Spooler& spool, PrinterHandle handle) {
    std::uint32_t needed = 0;
    std::uint32_t returned = 0;
    (void)spool.enum_jobs(handle, nullptr, 0, needed, returned);
    if (needed == 0) return 0;
    std::vector<std::byte> buffer(needed);
    if (!spool.enum_jobs(handle, buffer.data(), needed, needed, returned)) return std::nullopt;
    return returned;
}

}  // namespace

std::vector<std::string> cups_keywords(const char* reasons) {
    std::vector<std::string> keywords;
    if (!reasons) return keywords;
    for (std::string_view rest = reasons; !rest.empty();) {
        const size_t comma = rest.find(',');
        const std::string_view keyword = rest.substr(0, comma);
        if (!keyword.empty() && keyword != "none") keywords.emplace_back(keyword);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    }
    return keywords;
}

QueueState map_queue_state(const PrinterState& printer, std::uint32_t jobs) {
    const std::vector<std::string> keywords = cups_keywords(printer.cups_reasons);
    QueueState queue{state_of(printer, keywords, jobs), jobs, {}};
    for (const StatusFlag& flag : STATUS_FLAGS)
        if (printer.status & flag.bit) queue.reasons.emplace_back(flag.word);
    if (printer.attributes & ATTRIBUTE_WORK_OFFLINE) queue.reasons.emplace_back("work-offline");
    queue.reasons.insert(queue.reasons.end(), keywords.begin(), keywords.end());
    return queue;
}

QueueState read_queue_state(const std::string& printer) {
    const QueueState unavailable{"unavailable", 0, {}};
    if (printer.empty()) return unavailable;
    Spooler& spool = spooler();
    const std::u16string name = to_wide(printer);
    const Result<PrinterHandle> opened = spool.open_printer(name.c_str());
    if (!opened) return unavailable;
    const PrinterHandle handle = opened.value();

    const std::optional<std::vector<std::byte>> state = read_printer_state(spool, handle);
    const std::optional<std::uint32_t> jobs = state ? count_jobs(spool, handle) : std::nullopt;
    spool.close_printer(handle);
    if (!jobs) return unavailable;
    return map_queue_state(*reinterpret_cast<const PrinterState*>(state->data()), *jobs);
}

}  // namespace korba
