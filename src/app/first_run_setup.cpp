#include "app/first_run_setup.h"

#include "app/console_start.h"
#include "app/elevated_relaunch.h"
#include "common/console.h"
#include "common/constants.h"
#include "windows/autostart.h"
#include "windows/install_dir.h"
#include "windows/service_control.h"
#include "windows/service_install.h"

namespace korba {

namespace {

const char* const EM_DASH = " \u2014 ";

SetupOutcome succeeded(std::string text) { return {true, std::move(text)}; }
SetupOutcome warned(std::string text) { return {false, std::move(text)}; }

bool up_to_date() {
    return service_installed() && query_service() == ServiceState::Running && installed_copy_matches();
}

SetupOutcome after_relaunch(const RelaunchResult& relaunch, bool update, const std::vector<std::string>& entry) {
    switch (relaunch.status) {
        case RelaunchStatus::Done:
            if (update)
                return succeeded(std::string("Actualizado a v") + APP_VERSION +
                                 " como servicio en C:\\KORBA (arranca con Windows).");
            return succeeded("Instalado como servicio en C:\\KORBA (arranca con Windows).");
        case RelaunchStatus::Cancelled:
            // The entry names the running program; C:\KORBA stays as it was.
            (void)set_autostart(true, entry);
            return succeeded("Sin permisos de administrador: activado el arranque con Windows (modo simple).");
        case RelaunchStatus::Failed:
            break;
    }
    return warned(relaunch.error);
}

}  // namespace

bool setup_wanted(const Config& config) {
    // A preview run is a developer's bench: it never installs the bridge for the shop.
    if (config.skip_setup || config.preview) return false;
    if (config.force_setup) return true;
    return !service_installed() && !running_from_install_dir();
}

SetupOutcome setup_outcome(const std::string& printer, std::uint16_t port, std::span<const PrinterEntry> aliases,
                           const std::string& printer_option) {
    if (up_to_date()) return succeeded("El servicio ya estaba instalado y en marcha (misma version).");
    const bool update = service_installed() && !installed_copy_matches();
    // The autostart entry starts the bridge again with the same printers.
    const std::vector<std::string> entry = autostart_options(printer_option, aliases);

    // Without the rights nothing is written to C:\KORBA: only the elevated process makes it safe and fills it.
    if (!is_admin()) {
        if (running_from_install_dir()) {
            (void)set_autostart(true, entry);
            return succeeded(
                "Sin permisos de administrador: activado el arranque con Windows (modo simple). Para el servicio "
                "completo, ejecuta como administrador.");
        }
        return after_relaunch(relaunch_elevated(printer, port, aliases), update, entry);
    }

    const Result<CopyOutcome> copy = copy_to_install_dir();
    if (!copy) {
        // The warning promises the try, so make it.
        (void)set_autostart(true, entry);
        return warned(copy.error() + EM_DASH + "probando arranque con Windows sin permisos");
    }
    const bool copied = copy.value() == CopyOutcome::Copied;
    const Result<std::string> installed = create_service(printer, port, aliases);
    if (installed) return succeeded(installed.value());
    (void)set_autostart(true, entry);
    return warned(installed.error() + EM_DASH +
                  (copied ? "probando arranque con Windows" : "activado el arranque con Windows (modo simple)"));
}

std::string outcome_line(const SetupOutcome& outcome) {
    return std::string(outcome.ok ? "  \u2714 " : "  \u26A0 ") + outcome.text;
}

void first_run_setup(const std::string& printer, std::uint16_t port, std::span<const PrinterEntry> aliases,
                     const std::string& printer_option) {
    print_out(BANNER_RULE);
    print_out(" Primera puesta en marcha de KORBA Vizoza");
    print_out(BANNER_RULE);
    print_out(outcome_line(setup_outcome(printer, port, aliases, printer_option)));
    print_out("");
    print_out(" Si el vizoza ya corría como servicio, esta ventana sobra:");
    print_out(" cierrala y navega a " + panel_address(port));
    print_out("");
}

}  // namespace korba
