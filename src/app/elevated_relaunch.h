// Asking Windows once for administrator rights: the running program itself runs --install elevated,
// started by PowerShell, and this process waits for it. Only that elevated process writes C:\KORBA.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "common/printer_table.h"

namespace korba {

enum class RelaunchStatus { Done, Cancelled, Failed };

struct RelaunchResult {
    RelaunchStatus status;
    std::string error;  // why, when Failed
};

inline constexpr std::uint32_t ELEVATION_REFUSED = 1223;

// The PowerShell script that starts `program` elevated and hands back its exit code.
std::string elevation_script(const std::string& program, const std::string& printer, std::uint16_t port,
                             std::span<const PrinterEntry> aliases = {});
RelaunchResult relaunch_elevated(const std::string& printer, std::uint16_t port,
                                 std::span<const PrinterEntry> aliases = {});

}  // namespace korba
