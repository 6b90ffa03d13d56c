// Running as the Windows service: the dispatcher, the service's main routine and its control handler.
// The decisions live here; the service manager itself is reached through the small ServiceManager seam.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/printer_table.h"
#include "common/result.h"

namespace korba {

// The system's service status record, field for field.
struct ServiceStatusReport {
    std::uint32_t service_type;
    std::uint32_t current_state;
    std::uint32_t controls_accepted;
    std::uint32_t win32_exit_code;
    std::uint32_t service_exit_code;
    std::uint32_t check_point;
    std::uint32_t wait_hint_ms;

    bool operator==(const ServiceStatusReport&) const = default;
};

inline constexpr std::uint32_t SERVICE_OWN_PROCESS = 0x10;
inline constexpr std::uint32_t STATE_STOPPED = 1;
inline constexpr std::uint32_t STATE_START_PENDING = 2;
inline constexpr std::uint32_t STATE_STOP_PENDING = 3;
inline constexpr std::uint32_t STATE_RUNNING = 4;
inline constexpr std::uint32_t CONTROL_STOP = 1;
inline constexpr std::uint32_t CONTROL_SHUTDOWN = 5;
inline constexpr std::uint32_t ACCEPT_STOP_AND_SHUTDOWN = 0x1 | 0x4;
// What the process ends with when no service manager started it.
inline constexpr int EXIT_NOT_A_SERVICE = 1063;

inline constexpr ServiceStatusReport STARTING_REPORT{
    SERVICE_OWN_PROCESS, STATE_START_PENDING, ACCEPT_STOP_AND_SHUTDOWN, 0, 0, 1, 5000};
inline constexpr ServiceStatusReport RUNNING_REPORT{
    SERVICE_OWN_PROCESS, STATE_RUNNING, ACCEPT_STOP_AND_SHUTDOWN, 0, 0, 0, 0};
inline constexpr ServiceStatusReport STOPPED_REPORT{
    SERVICE_OWN_PROCESS, STATE_STOPPED, ACCEPT_STOP_AND_SHUTDOWN, 0, 0, 0, 0};
inline constexpr ServiceStatusReport STOPPING_REPORT{
    SERVICE_OWN_PROCESS, STATE_STOP_PENDING, ACCEPT_STOP_AND_SHUTDOWN, 0, 0, 1, 3000};

using ServiceMainFunction = void (*)();
using ControlHandlerFunction = void (*)(std::uint32_t control);
using StatusHandle = std::uintptr_t;  // 0: not registered

// The seam to the service manager: the system's by default, a recording fake in unit tests.
class ServiceManager {
public:
    virtual ~ServiceManager() = default;
    // Runs `service_main` under the manager and returns once the service has stopped; the system
    // error text when this process was not started by the manager.
    virtual Status run_dispatcher(const std::string& name, ServiceMainFunction service_main) = 0;
    virtual StatusHandle register_handler(const std::string& name, ControlHandlerFunction handler) = 0;
    virtual void set_status(StatusHandle handle, const ServiceStatusReport& report) = 0;
    // Ends the whole process now, without waiting for any thread.
    virtual void end_process(int exit_code);
};

ServiceManager& service_manager();
// `replacement` nullptr restores the system's manager.
void set_service_manager(ServiceManager* replacement);
// Implemented per platform.
ServiceManager& system_service_manager();

// The process exit code: 0 once the service has stopped, 1063 when not started by the manager.
int run_as_service(const std::string& printer, std::uint16_t port, const std::vector<PrinterEntry>& aliases = {});
void service_main();
void service_control_handler(std::uint32_t control);
void report_stop_pending();

}  // namespace korba
