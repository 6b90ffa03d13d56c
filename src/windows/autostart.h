// The per-user autostart entry (the Run value, changed only through reg) and the
// program's own location.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"

namespace korba {

inline constexpr const char* RUN_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* LOCATION_WARNING =
    "El ejecutable esta en Descargas o una carpeta temporal: muevelo a una carpeta fija (p.ej. C:\\KORBA\\) antes "
    "de activar el arranque.";

// The running program's file as the system spells it; empty when the system cannot tell.
std::string current_exe_path();
// The folder of that file, without the trailing separator; empty when unknown.
std::string program_folder();

bool autostart_enabled();
// `options` follow --autostart in the entry, each quoted for the command line.
Status set_autostart(bool enable, const std::vector<std::string>& options = {});

std::optional<std::string> exe_location_warning();
// The warning for a given program path (downloads or temporary folders).
std::optional<std::string> location_warning_for(std::string_view exe_path);

}  // namespace korba
