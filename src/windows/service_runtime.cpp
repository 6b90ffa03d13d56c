#include "windows/service_runtime.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "common/console.h"
#include "common/constants.h"
#include "http/server.h"
#include "printing/printers.h"

namespace korba {

namespace {
// Written by run_as_service before the dispatcher starts, read by service_main afterwards.
struct ServiceSettings {
    std::optional<std::string> printer;
    std::uint16_t port = DEFAULT_PORT;
    std::vector<PrinterEntry> aliases;
};
ServiceSettings service_settings;

// Written once by service_main; read by the handler on the dispatcher's thread.
std::atomic<StatusHandle> status_handle{0};

ServiceManager* manager_override = nullptr;

void report(const ServiceStatusReport& status) {
    const StatusHandle handle = status_handle.load();
    if (handle != 0) service_manager().set_status(handle, status);
}
}  // namespace

void ServiceManager::end_process(int exit_code) {
    std::fflush(stdout);
    std::_Exit(exit_code);
}

ServiceManager& service_manager() { return manager_override ? *manager_override : system_service_manager(); }

void set_service_manager(ServiceManager* replacement) { manager_override = replacement; }

int run_as_service(const std::string& printer, std::uint16_t port, const std::vector<PrinterEntry>& aliases) {
    service_settings = ServiceSettings{printer, port, aliases};
    const Status dispatched = service_manager().run_dispatcher(SERVICE_NAME, service_main);
    if (dispatched) return 0;
    print_err("ERROR: no puedo conectar con el Service Control Manager (" + dispatched.error() + ").");
    print_err("Este modo lo lanza Windows como servicio. Para uso manual, ejecuta sin --service.");
    return EXIT_NOT_A_SERVICE;
}

void service_main() {
    status_handle = service_manager().register_handler(SERVICE_NAME, service_control_handler);
    if (status_handle.load() == 0) return;
    report(STARTING_REPORT);
    const std::string printer = resolve_printer(service_settings.printer.value_or(""));
    auto config =
        std::make_shared<const ServerConfig>(ServerConfig{printer, service_settings.port, service_settings.aliases});
    const Result<NativeSocket> listener = bind_listener(config->port);
    if (!listener) {
        report(STOPPED_REPORT);
        return;
    }
    report(RUNNING_REPORT);
    run_server(listener.value(), config);
    report(STOPPED_REPORT);
}

void service_control_handler(std::uint32_t control) {
    if (control != CONTROL_STOP && control != CONTROL_SHUTDOWN) return;
    report_stop_pending();
    service_manager().end_process(0);
}

void report_stop_pending() { report(STOPPING_REPORT); }

}  // namespace korba
