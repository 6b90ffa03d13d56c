// The Windows print spooler (winspool), one call per method and nothing more.
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <string>
#include <vector>

#include "common/system_error.h"
#include "printing/spooler.h"

namespace korba {

static_assert(sizeof(PrinterInfo4) == sizeof(PRINTER_INFO_4W));
static_assert(offsetof(PrinterInfo4, printer_name) == offsetof(PRINTER_INFO_4W, pPrinterName));
static_assert(offsetof(PrinterInfo4, attributes) == offsetof(PRINTER_INFO_4W, Attributes));
// The level-2 record follows the state record in the caller's buffer, aligned.
static_assert(sizeof(PrinterState) % alignof(PRINTER_INFO_2W) == 0);

namespace {

// winspool.drv is not one of the libraries Windows always takes from the system folder, so it
// is loaded from there by hand: a copy beside the program is never used.
struct Winspool {
    bool loaded = false;
    DWORD load_error = ERROR_SUCCESS;
    decltype(&OpenPrinterW) open_printer = nullptr;
    decltype(&StartDocPrinterW) start_doc = nullptr;
    decltype(&StartPagePrinter) start_page = nullptr;
    decltype(&WritePrinter) write = nullptr;
    decltype(&EndPagePrinter) end_page = nullptr;
    decltype(&EndDocPrinter) end_doc = nullptr;
    decltype(&AbortPrinter) abort_doc = nullptr;
    decltype(&ClosePrinter) close_printer = nullptr;
    decltype(&EnumPrintersW) enum_printers = nullptr;
    decltype(&GetPrinterW) get_printer = nullptr;
    decltype(&EnumJobsW) enum_jobs = nullptr;
    decltype(&GetJobW) get_job = nullptr;
    decltype(&SetJobW) set_job = nullptr;
    decltype(&GetDefaultPrinterW) default_printer = nullptr;
};

template <class Function>
bool bind(HMODULE library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return function != nullptr;
}

// By its full path in the system folder, which needs no library-search update on Windows 7.
HMODULE load_from_system_folder(const wchar_t* name) {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    return LoadLibraryW((std::wstring(folder, length) + L"\\" + name).c_str());
}

Winspool load_winspool() {
    Winspool api;
    const HMODULE library = load_from_system_folder(L"winspool.drv");
    const bool bound = library && bind(library, "OpenPrinterW", api.open_printer) &&
                       bind(library, "StartDocPrinterW", api.start_doc) &&
                       bind(library, "StartPagePrinter", api.start_page) &&
                       bind(library, "WritePrinter", api.write) && bind(library, "EndPagePrinter", api.end_page) &&
                       bind(library, "EndDocPrinter", api.end_doc) && bind(library, "AbortPrinter", api.abort_doc) &&
                       bind(library, "ClosePrinter", api.close_printer) &&
                       bind(library, "EnumPrintersW", api.enum_printers) &&
                       bind(library, "GetPrinterW", api.get_printer) && bind(library, "EnumJobsW", api.enum_jobs) &&
                       bind(library, "GetJobW", api.get_job) && bind(library, "SetJobW", api.set_job) &&
                       bind(library, "GetDefaultPrinterW", api.default_printer);
    api.loaded = bound;
    if (!bound) api.load_error = GetLastError();
    return api;
}

// Loaded once, on first use; the library stays for the life of the process.
const Winspool& winspool() {
    static const Winspool api = load_winspool();
    return api;
}

LPWSTR wide(const char16_t* text) { return reinterpret_cast<LPWSTR>(const_cast<char16_t*>(text)); }

// GetLastError is read before anything else can overwrite it.
Failure last_error() { return fail(system_error_text(GetLastError())); }

class WinSpooler final : public Spooler {
public:
    // Every other call needs a handle from here, so only here and in the calls without one
    // does a library that failed to load need a check.
    Result<PrinterHandle> open_printer(const char16_t* name) override {
        const Winspool& api = winspool();
        if (!api.loaded) return fail(system_error_text(api.load_error));
        HANDLE handle = nullptr;
        if (!api.open_printer(wide(name), &handle, nullptr)) return last_error();
        return PrinterHandle{handle};
    }
    Result<JobNumber> start_doc(PrinterHandle printer, const DocumentInfo& document) override {
        DOC_INFO_1W info{wide(document.document_name), wide(document.output_file), wide(document.datatype)};
        const DWORD job = winspool().start_doc(printer, 1, reinterpret_cast<LPBYTE>(&info));
        if (job == 0) return last_error();
        return JobNumber{job};
    }
    void start_page(PrinterHandle printer) override { winspool().start_page(printer); }
    // One call takes at most a 32-bit count; the caller writes whatever is left.
    Result<std::uint32_t> write(PrinterHandle printer, std::string_view data) override {
        const auto size = static_cast<DWORD>(std::min<size_t>(data.size(), MAXDWORD));
        DWORD written = 0;
        if (!winspool().write(printer, const_cast<char*>(data.data()), size, &written)) return last_error();
        return std::uint32_t{written};
    }
    void end_page(PrinterHandle printer) override { winspool().end_page(printer); }
    Status end_doc(PrinterHandle printer) override {
        if (!winspool().end_doc(printer)) return last_error();
        return success();
    }
    Status abort_doc(PrinterHandle printer) override {
        if (!winspool().abort_doc(printer)) return last_error();
        return success();
    }
    void close_printer(PrinterHandle printer) override { winspool().close_printer(printer); }
    bool enum_printers(std::uint32_t flags, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                       std::uint32_t& returned) override {
        needed = returned = 0;
        const Winspool& api = winspool();
        if (!api.loaded) return false;
        DWORD needed_bytes = 0;
        DWORD count = 0;
        const BOOL ok = api.enum_printers(flags, nullptr, 4, reinterpret_cast<LPBYTE>(buffer), size, &needed_bytes,
                                          &count);
        needed = needed_bytes;
        returned = count;
        return ok;
    }
    // The buffer holds the state record, then the level-2 record it is taken from.
    bool get_printer(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed) override {
        const DWORD room = size > sizeof(PrinterState) ? size - sizeof(PrinterState) : 0;
        std::byte* record = room ? buffer + sizeof(PrinterState) : nullptr;
        DWORD record_bytes = 0;
        const BOOL ok = winspool().get_printer(printer, 2, reinterpret_cast<LPBYTE>(record), room, &record_bytes);
        needed = sizeof(PrinterState) + record_bytes;
        if (!ok) return false;
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(record);
        *reinterpret_cast<PrinterState*>(buffer) = {info->Status, info->Attributes, 0, nullptr,
                                                     reinterpret_cast<const char16_t*>(info->pPortName), nullptr};
        return true;
    }
    bool enum_jobs(PrinterHandle printer, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                   std::uint32_t& returned) override {
        DWORD needed_bytes = 0;
        DWORD count = 0;
        const BOOL ok = winspool().enum_jobs(printer, 0, MAXDWORD, 1, reinterpret_cast<LPBYTE>(buffer), size,
                                             &needed_bytes, &count);
        needed = needed_bytes;
        returned = count;
        return ok;
    }
    // Sized by a first call; an unknown job is one the spooler has let go.
    Result<std::optional<JobState>> get_job(PrinterHandle printer, JobNumber job) override {
        DWORD needed = 0;
        std::vector<BYTE> record;
        while (!winspool().get_job(printer, job, 1, record.data(), static_cast<DWORD>(record.size()), &needed)) {
            const DWORD error = GetLastError();
            if (error == ERROR_INVALID_PARAMETER) return std::optional<JobState>();
            if (error != ERROR_INSUFFICIENT_BUFFER || needed <= record.size()) return fail(system_error_text(error));
            record.resize(needed);
        }
        return std::optional<JobState>(JobState{reinterpret_cast<const JOB_INFO_1W*>(record.data())->Status, 0, {}});
    }
    Status delete_job(PrinterHandle printer, JobNumber job) override {
        if (!winspool().set_job(printer, job, 0, nullptr, JOB_CONTROL_DELETE)) return last_error();
        return success();
    }
    bool keeps_finished_jobs() const override { return false; }
    bool default_printer(char16_t* buffer, std::uint32_t& size) override {
        const Winspool& api = winspool();
        if (!api.loaded) {
            size = 0;
            return false;
        }
        DWORD units = size;
        const BOOL ok = api.default_printer(reinterpret_cast<LPWSTR>(buffer), &units);
        size = units;
        return ok;
    }
};

}  // namespace

Spooler& system_spooler() {
    static WinSpooler instance;
    return instance;
}

}  // namespace korba
