#include "app/install_commands.h"

#include "printing/printers.h"
#include "windows/install_dir.h"
#include "windows/service_install.h"

namespace korba {

namespace {
const char* const NO_SERVICE_HERE = "el servicio de Windows solo se puede instalar o desinstalar en Windows";
}  // namespace

Result<std::string> install_command(const Config& config) {
    if (!SELF_INSTALL_AVAILABLE) return fail(NO_SERVICE_HERE);
    // No --printer means the default printer, even when there is none (not the first listed one).
    return install_service(config.printer.empty() ? default_printer() : config.printer, config.port, config.aliases,
                           config.data_folder.value_or(""));
}

Result<std::string> uninstall_command() {
    if (!SELF_INSTALL_AVAILABLE) return fail(NO_SERVICE_HERE);
    return uninstall_service();
}

}  // namespace korba
