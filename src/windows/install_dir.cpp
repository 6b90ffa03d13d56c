#include "windows/install_dir.h"

#include <string>

#include "common/system_error.h"
#include "common/text.h"
#include "windows/file_system.h"
#include "windows/service_control.h"

namespace korba {

namespace {

// Full Unicode lower-casing compared with an ASCII text: besides A-Z only the Kelvin sign (U+212A)
// lower-cases to an ASCII letter, so those two rules decide equality exactly.
std::string lower_for_ascii_compare(std::string_view text) {
    std::string lower;
    for (size_t pos = 0; pos < text.size();) {
        const size_t start = pos;
        const char32_t c = next_code_point(text, pos);
        if (c == U'\u212A')
            lower += 'k';
        else
            lower += ascii_lower(text.substr(start, pos - start));
    }
    return lower;
}

// Stopping the service is not enough: its process may hold the file a moment longer.
void wait_until_writable() {
    for (int probe = 0; probe < WRITE_PROBES; ++probe) {
        if (file_system().can_open_for_writing(INSTALL_EXE)) return;
        file_system().pause(WRITE_PROBE_INTERVAL);
    }
}

void free_from_service() {
    (void)stop_service();
    wait_for_service([](ServiceState state) { return state != ServiceState::Running; }, STOP_WAIT_CHECKS);
    (void)delete_service();
    wait_until_writable();
}

Status create_install_dir() {
    if (const std::uint32_t error = file_system().create_folders(INSTALL_DIR))
        return fail(std::string("no puedo crear ") + INSTALL_DIR + ": " + system_error_text(error));
    return success();
}

}  // namespace

bool running_from_install_dir() {
    return lower_for_ascii_compare(file_system().running_program()) == ascii_lower(INSTALL_EXE);
}

bool installed_copy_matches() {
    const std::string running_path = file_system().running_program();
    if (running_path.empty()) return false;
    const std::optional<FileFacts> running = file_system().file_facts(running_path);
    const std::optional<FileFacts> installed = file_system().file_facts(INSTALL_EXE);
    return running && installed && *running == *installed;
}

Result<CopyOutcome> copy_to_install_dir() {
    const std::string source = file_system().running_program();
    if (running_from_install_dir()) return CopyOutcome::AlreadyInPlace;
    if (Status created = create_install_dir(); !created) return fail(created.error());
    if (file_system().file_facts(INSTALL_EXE) && service_installed() && installed_copy_matches())
        return CopyOutcome::AlreadyInPlace;
    if (service_installed()) free_from_service();

    const std::uint32_t first_error = file_system().copy_file(source, INSTALL_EXE);
    if (first_error == 0) return CopyOutcome::Copied;
    file_system().pause(COPY_RETRY_PAUSE);
    const std::uint32_t second_error = file_system().copy_file(source, INSTALL_EXE);
    if (second_error == 0) return CopyOutcome::Copied;
    const std::uint32_t shown = second_error == ACCESS_DENIED_ERROR ? second_error : first_error;
    return fail(std::string("no pude instalar ") + INSTALL_EXE +
                " (esta en uso por otro proceso: " + system_error_text(shown) +
                "). Cierra cualquier ventana de KORBA Vizoza y vuelve a intentarlo, o reinicia el PC y ejecuta de "
                "nuevo el instalador.");
}

Status protect_install_dir() {
    if (Status created = create_install_dir(); !created) return created;
    if (const std::uint32_t error = file_system().protect_folder(INSTALL_DIR, INSTALL_DIR_PROTECTION))
        return fail(std::string("no puedo proteger ") + INSTALL_DIR +
                    " para que solo los administradores puedan cambiarla (" + system_error_text(error) +
                    "); el servicio no se instala en una carpeta que cualquier usuario puede cambiar.");
    return success();
}

}  // namespace korba
