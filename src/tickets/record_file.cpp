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
    : folder_(std::move(folder)),
      path_(in_folder(folder_, RECORD_FILE_NAME, FOLDER_SEPARATOR)),
      lock_path_(in_folder(folder_, RECORD_LOCK_NAME, FOLDER_SEPARATOR)) {}

DiskRecordFile::~DiskRecordFile() { let_go(); }

void DiskRecordFile::let_go() {
    if (handle_ != -1) close_file(handle_);
    if (lock_ != -1) close_file(lock_);
    handle_ = lock_ = -1;
}

// Taken on first use, and tried again on each use until it is: a folder that could not be made
// at start may be made later, and another bridge may let go of it.
Status DiskRecordFile::take_folder() {
    if (lock_ != -1) return success();
    if (folder_.empty()) return fail(NO_FOLDER);
    if (const Status made = outcome(create_private_folders(folder_)); !made) return made;
    const std::uint32_t error = open_exclusive(lock_path_, lock_);
    if (error == LOCKED_ELSEWHERE) return fail("otra copia del vizoza usa la carpeta de tickets " + folder_);
    return outcome(error);
}

Result<std::string> DiskRecordFile::read() {
    if (const Status opened = open(); !opened) return fail(opened.error());
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
    if (const Status renamed = outcome(rename_over(fresh, path_)); !renamed) return renamed;
    return open();
}

Status DiskRecordFile::open() {
    if (handle_ != -1) return success();
    if (const Status taken = take_folder(); !taken) return taken;
    if (const Status opened = outcome(open_appending(path_, handle_)); !opened) return opened;
    const std::uint32_t error = file_size(handle_, length_);
    if (error != 0) {
        close_file(handle_);
        handle_ = -1;
    }
    return outcome(error);
}

// A fragment left by a write that failed, and could not be cut off then, is cut off before the
// next line goes in.
Status DiskRecordFile::append(std::string_view line, bool flush) {
    if (const Status opened = open(); !opened) return opened;
    std::uint64_t size = 0;
    if (const Status measured = outcome(file_size(handle_, size)); !measured) return measured;
    if (size != length_)
        if (const Status cut = outcome(cut_file(handle_, length_)); !cut) return cut;
    if (const std::uint32_t error = append_to(handle_, line, flush); error != 0) {
        (void)cut_file(handle_, length_);
        return outcome(error);
    }
    length_ += line.size();
    return success();
}

// Both the record and the lock must still be the folder's: a folder deleted under the bridge
// could be taken by another one.
bool DiskRecordFile::in_place() {
    if (lock_ != -1 && handle_ != -1 && same_file(lock_, lock_path_) && same_file(handle_, path_)) return true;
    let_go();
    return false;
}

std::optional<std::string> ticket_folder(const TicketFolderFacts& facts) {
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
