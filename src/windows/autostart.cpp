#include "windows/autostart.h"

#include "common/constants.h"
#include "common/text.h"
#include "windows/command_runner.h"
#include "windows/process.h"
#include "windows/win_command_line.h"

namespace korba {

std::string program_folder() {
    const std::string exe = current_exe_path();
    const size_t separator = exe.find_last_of(FOLDER_SEPARATORS);
    return separator == std::string::npos ? std::string() : exe.substr(0, separator);
}

bool autostart_enabled() {
    const Result<CommandOutput> query = run_command("reg", {{"query"}, {RUN_KEY}, {"/v"}, {SERVICE_NAME}});
    return query.ok() && query.value().exit_code == 0;
}

namespace {

Status add_run_value(const std::vector<std::string>& options) {
    const std::string exe = current_exe_path();
    if (exe.empty()) return fail("no puedo determinar la ruta del ejecutable");
    std::string data = '"' + exe + "\" --autostart";
    for (const std::string& option : options) data += " " + quote_argument(option);
    return run_reg({{"add"}, {RUN_KEY}, {"/v"}, {SERVICE_NAME}, {"/t"}, {"REG_SZ"}, {"/d"}, {data}, {"/f"}});
}

}  // namespace

Status set_autostart(bool enable, const std::vector<std::string>& options) {
    if (enable) {
        if (Status added = add_run_value(options); !added) return added;
    } else {
        // A value that is already gone is fine: the query below decides.
        (void)run_command("reg", {{"delete"}, {RUN_KEY}, {"/v"}, {SERVICE_NAME}, {"/f"}});
    }
    if (autostart_enabled() != enable) return fail("no se pudo cambiar la entrada de arranque");
    return success();
}

std::optional<std::string> location_warning_for(std::string_view exe_path) {
    // The patterns are ASCII and no other character lower-cases into these letters, so ASCII
    // lower-casing finds exactly what full Unicode lower-casing would.
    const std::string lower = ascii_lower(exe_path);
    for (const char* pattern : {"download", "descarga", "\\temp", "\\tmp"})
        if (lower.find(pattern) != std::string::npos) return LOCATION_WARNING;
    return std::nullopt;
}

std::optional<std::string> exe_location_warning() { return location_warning_for(current_exe_path()); }

}  // namespace korba
