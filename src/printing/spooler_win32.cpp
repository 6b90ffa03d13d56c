// The Windows print spooler (winspool), one call per method and nothing more.
#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstddef>

#include "common/system_error.h"
#include "printing/spooler.h"

namespace korba {

static_assert(sizeof(PrinterInfo4) == sizeof(PRINTER_INFO_4W));
static_assert(offsetof(PrinterInfo4, printer_name) == offsetof(PRINTER_INFO_4W, pPrinterName));
static_assert(offsetof(PrinterInfo4, attributes) == offsetof(PRINTER_INFO_4W, Attributes));

namespace {

LPWSTR wide(const char16_t* text) { return reinterpret_cast<LPWSTR>(const_cast<char16_t*>(text)); }

// GetLastError is read before anything else can overwrite it.
Failure last_error() { return fail(system_error_text(GetLastError())); }

class WinSpooler final : public Spooler {
public:
    Result<PrinterHandle> open_printer(const char16_t* name) override {
        HANDLE handle = nullptr;
        if (!OpenPrinterW(wide(name), &handle, nullptr)) return last_error();
        return PrinterHandle{handle};
    }
    Status start_doc(PrinterHandle printer, const DocumentInfo& document) override {
        DOC_INFO_1W info{wide(document.document_name), wide(document.output_file), wide(document.datatype)};
        if (StartDocPrinterW(printer, 1, reinterpret_cast<LPBYTE>(&info)) == 0) return last_error();
        return success();
    }
    void start_page(PrinterHandle printer) override { StartPagePrinter(printer); }
    // One call takes at most a 32-bit count; the caller writes whatever is left.
    Result<std::uint32_t> write(PrinterHandle printer, std::string_view data) override {
        const auto size = static_cast<DWORD>(std::min<size_t>(data.size(), MAXDWORD));
        DWORD written = 0;
        if (!WritePrinter(printer, const_cast<char*>(data.data()), size, &written)) return last_error();
        return std::uint32_t{written};
    }
    void end_page(PrinterHandle printer) override { EndPagePrinter(printer); }
    Status end_doc(PrinterHandle printer) override {
        if (!EndDocPrinter(printer)) return last_error();
        return success();
    }
    void abort_doc(PrinterHandle printer) override { AbortPrinter(printer); }
    void close_printer(PrinterHandle printer) override { ClosePrinter(printer); }
    bool enum_printers(std::uint32_t flags, std::byte* buffer, std::uint32_t size, std::uint32_t& needed,
                       std::uint32_t& returned) override {
        DWORD needed_bytes = 0;
        DWORD count = 0;
        const BOOL ok = EnumPrintersW(flags, nullptr, 4, reinterpret_cast<LPBYTE>(buffer), size, &needed_bytes, &count);
        needed = needed_bytes;
        returned = count;
        return ok;
    }
    bool default_printer(char16_t* buffer, std::uint32_t& size) override {
        DWORD units = size;
        const BOOL ok = GetDefaultPrinterW(reinterpret_cast<LPWSTR>(buffer), &units);
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
