// The service manager as Windows provides it.
#include <windows.h>

#include "common/system_error.h"
#include "common/text.h"
#include "windows/service_runtime.h"

namespace korba {

namespace {
// The system calls back through plain WINAPI functions; these hold what they forward to.
ServiceMainFunction current_service_main = nullptr;
ControlHandlerFunction current_handler = nullptr;

void WINAPI service_main_entry(DWORD, LPWSTR*) { current_service_main(); }
void WINAPI handler_entry(DWORD control) { current_handler(control); }

LPWSTR wide_pointer(std::u16string& wide) { return reinterpret_cast<LPWSTR>(wide.data()); }

class WindowsServiceManager final : public ServiceManager {
public:
    Status run_dispatcher(const std::string& name, ServiceMainFunction service_main) override {
        current_service_main = service_main;
        std::u16string wide_name = to_wide(name);
        const SERVICE_TABLE_ENTRYW table[] = {{wide_pointer(wide_name), service_main_entry}, {nullptr, nullptr}};
        if (StartServiceCtrlDispatcherW(table)) return success();
        return fail(system_error_text(GetLastError()));
    }

    StatusHandle register_handler(const std::string& name, ControlHandlerFunction handler) override {
        current_handler = handler;
        const std::u16string wide_name = to_wide(name);
        return reinterpret_cast<StatusHandle>(
            RegisterServiceCtrlHandlerW(reinterpret_cast<LPCWSTR>(wide_name.c_str()), handler_entry));
    }

    void set_status(StatusHandle handle, const ServiceStatusReport& report) override {
        SERVICE_STATUS status{report.service_type,    report.current_state,     report.controls_accepted,
                              report.win32_exit_code, report.service_exit_code, report.check_point,
                              report.wait_hint_ms};
        SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &status);
    }
};
}  // namespace

ServiceManager& system_service_manager() {
    static WindowsServiceManager manager;
    return manager;
}

}  // namespace korba
