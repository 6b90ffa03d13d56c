#include "tickets/record_file.h"

#include "common/system_error.h"
#include "windows/install_dir.h"

namespace korba {

namespace {

constexpr const char* NO_FOLDER = "no se cual es su carpeta (usa --data CARPETA)";

Status outcome(std::uint32_t error) {
    if (error != 0) return fail(system_error_text(error));
    return success();
}

std::string in_folder(const std::string& folder, const char* name, char separator) {
    const bool ends_in_separator = !folder.empty() && (folder.back() == '/' || folder.back() == separator);
    return folder + (ends_in_separator ? "" : std::string(1, separator)) + name;
}

std::optional<std::string> set(std::optional<std::string> value) {
    if (value && value->empty()) return std::nullopt;
    return value;
}

}  // namespace

DiskRecordFile::DiskRecordFile(std::string folder)
    : folder_(std::move(folder)), path_(in_folder(folder_, RECORD_FILE_NAME, FOLDER_SEPARATOR)) {}

DiskRecordFile::~DiskRecordFile() {
    if (handle_ != -1) close_file(handle_);
    if (lock_ != -1) close_file(lock_);
}

// Taken on first use, and tried again on each use until it is: a folder that could not be made
// at start may be made later.
Status DiskRecordFile::take_folder() {
    if (lock_ != -1) return success();
    if (folder_.empty()) return fail(NO_FOLDER);
    if (const Status made = outcome(create_private_folders(folder_)); !made) return made;
    return outcome(open_exclusive(in_folder(folder_, RECORD_LOCK_NAME, FOLDER_SEPARATOR), lock_));
}

Result<std::string> DiskRecordFile::read() {
    if (const Status taken = take_folder(); !taken) return fail(taken.error());
    std::string contents;
    if (const std::uint32_t error = read_whole_file(path_, contents); error != 0) return fail(system_error_text(error));
    return contents;
}

Status DiskRecordFile::replace(std::string_view contents) {
    if (const Status taken = take_folder(); !taken) return taken;
    if (handle_ != -1) {
        close_file(handle_);
        handle_ = -1;
    }
    const std::string fresh = path_ + ".new";
    if (const Status written = outcome(write_file_flushed(fresh, contents)); !written) return written;
    return outcome(rename_over(fresh, path_));
}

Status DiskRecordFile::open() {
    if (handle_ != -1) return success();
    if (const Status taken = take_folder(); !taken) return taken;
    return outcome(open_appending(path_, handle_));
}

Status DiskRecordFile::append(std::string_view line, bool flush) {
    if (const Status opened = open(); !opened) return opened;
    return outcome(append_to(handle_, line, flush));
}

std::optional<std::string> ticket_folder(const FolderFacts& facts) {
    if (facts.data_option) return facts.data_option;
    const auto environment = [&facts](const char* name) { return set(facts.environment(name)); };
    if (facts.windows) {
        if (facts.service) return in_folder(INSTALL_DIR, "tickets", '\\');
        const std::optional<std::string> local = environment("LOCALAPPDATA");
        if (local) return in_folder(*local, "KORBA\\tickets", '\\');
        return std::nullopt;
    }
    if (const std::optional<std::string> state = environment("STATE_DIRECTORY"))
        return state->substr(0, state->find(':'));
    // The XDG rule: a relative value is ignored.
    if (const std::optional<std::string> xdg = environment("XDG_STATE_HOME"); xdg && xdg->front() == '/')
        return in_folder(*xdg, "korba-vizoza", '/');
    if (const std::optional<std::string> home = environment("HOME"))
        return in_folder(*home, ".local/state/korba-vizoza", '/');
    return std::nullopt;
}

}  // namespace korba
