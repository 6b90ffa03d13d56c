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
    if (const std::uint32_t error = file_system().create_protected_folder(INSTALL_DIR, INSTALL_DIR_PROTECTION))
        return fail(std::string("no puedo crear ") + INSTALL_DIR + ": " + system_error_text(error));
    return success();
}

Status protect_again() {
    if (const std::uint32_t error = file_system().protect_folder(INSTALL_DIR, INSTALL_DIR_PROTECTION))
        return fail(std::string("no puedo proteger ") + INSTALL_DIR +
                    " para que solo los administradores puedan cambiarla (" + system_error_text(error) +
                    "); el servicio no se instala en una carpeta que cualquier usuario puede cambiar.");
    return success();
}

Status not_set_aside(const std::string& why) {
    return fail(std::string(INSTALL_DIR) + " no es segura y no se puede apartar (" + why +
                "); cierra los programas que la usen y vuelve a intentarlo");
}

// A rename, unlike a copy and a delete, keeps whatever the folder holds for a look afterwards.
Status set_aside() {
    const LocalTime now = file_system().local_time();
    std::uint32_t error = 0;
    for (int attempt = 1; attempt <= SET_ASIDE_NAMES; ++attempt) {
        error = file_system().rename_aside(INSTALL_DIR, set_aside_name(now, attempt));
        if (error != ALREADY_EXISTS_ERROR) break;
    }
    if (error) return not_set_aside(system_error_text(error));
    return success();
}

std::string two_digits(int number) {
    std::string digits = std::to_string(number);
    if (digits.size() < 2) digits.insert(digits.begin(), '0');
    return digits;
}

// Written beside the target and renamed over it, so the target is either the old file or the whole
// new one, and a handle opened on the old file never reaches the new one.
std::uint32_t place_copy(ProgramFile& program) {
    if (const std::uint32_t error = program.copy_to(INSTALL_EXE_INCOMING)) return error;
    return file_system().replace_file(INSTALL_EXE_INCOMING, INSTALL_EXE);
}

}  // namespace

std::string set_aside_name(const LocalTime& time, int attempt) {
    std::string name = SET_ASIDE_PREFIX + std::to_string(time.year) + two_digits(time.month) + two_digits(time.day) +
                       "-" + two_digits(time.hour) + two_digits(time.minute) + two_digits(time.second);
    return attempt > 1 ? name + "-" + std::to_string(attempt) : name;
}

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

Status make_install_dir_safe() {
    const FolderFacts facts = file_system().folder_facts(INSTALL_DIR);
    if (!facts.exists) return create_install_dir();
    if (trusted_folder(facts)) return protect_again();
    // The program that would be copied lies in the folder that nobody can vouch for.
    if (running_from_install_dir()) return not_set_aside("este programa se ejecuta desde ella");
    // The service runs a file of that folder; stopped, it holds nothing open there.
    if (service_installed()) free_from_service();
    if (Status aside = set_aside(); !aside) return aside;
    return create_install_dir();
}

Result<CopyOutcome> copy_to_install_dir() {
    // Held from before anything changes to the end of the copy, so that the file that becomes the
    // service is the one running now, whatever is put under its name meanwhile.
    Result<std::unique_ptr<ProgramFile>> program = file_system().open_running_program();
    if (!program)
        return fail("no puedo leer este mismo programa para copiarlo (" + program.error() +
                    "); no se ha instalado nada. Vuelve a descargarlo y ejecutalo de nuevo.");
    if (Status safe = make_install_dir_safe(); !safe) return fail(safe.error());
    if (running_from_install_dir()) return CopyOutcome::AlreadyInPlace;
    if (file_system().file_facts(INSTALL_EXE) && service_installed() && installed_copy_matches())
        return CopyOutcome::AlreadyInPlace;
    if (service_installed()) free_from_service();

    const std::uint32_t first_error = place_copy(*program.value());
    if (first_error == 0) return CopyOutcome::Copied;
    file_system().pause(COPY_RETRY_PAUSE);
    const std::uint32_t second_error = place_copy(*program.value());
    if (second_error == 0) return CopyOutcome::Copied;
    (void)file_system().remove_file(INSTALL_EXE_INCOMING);
    const std::uint32_t shown = second_error == ACCESS_DENIED_ERROR ? second_error : first_error;
    return fail(std::string("no pude instalar ") + INSTALL_EXE +
                " (esta en uso por otro proceso: " + system_error_text(shown) +
                "). Cierra cualquier ventana de KORBA Vizoza y vuelve a intentarlo, o reinicia el PC y ejecuta de "
                "nuevo el instalador.");
}

}  // namespace korba
