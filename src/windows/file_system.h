// The file operations of the self-copy, behind a small seam: the system's by default, a
// pretend disk in unit tests. The platform part (file_system_win32.cpp / _posix.cpp) only wraps calls.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "common/result.h"
#include "windows/folder_trust.h"

namespace korba {

// What two copies of the program are compared by: contents are never read.
struct FileFacts {
    std::uint64_t size = 0;
    std::uint64_t last_write = 0;  // the file system's own time stamp, compared raw
    bool operator==(const FileFacts&) const = default;
};

// Local wall-clock time, as the system gives it.
struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

// The system's own codes for "access denied" and "that name is taken", from the platform layer.
extern const std::uint32_t ACCESS_DENIED_ERROR;
extern const std::uint32_t ALREADY_EXISTS_ERROR;

// The file the process runs, open so that (on Windows) nobody may write, rename or delete it until
// this is destroyed: what is copied is read from this handle, never again by the file's name.
class ProgramFile {
public:
    virtual ~ProgramFile() = default;
    // Writes the whole file, with its last-write time, to `to` (made anew); 0 or the system error.
    virtual std::uint32_t copy_to(const std::string& to) = 0;
};

class FileSystem {
public:
    virtual ~FileSystem() = default;
    // The running program's own file (empty when the system cannot tell).
    virtual std::string running_program() = 0;
    // What the path is, without following it when it redirects elsewhere.
    virtual FolderFacts folder_facts(const std::string& path) = 0;
    // These return 0 or the system error code.
    // Creates the folder with the owner and access rules of `sddl` in the one call; an existing one is an error.
    virtual std::uint32_t create_protected_folder(const std::string& path, const std::string& sddl) = 0;
    // Renames a file or folder; an existing `to` is never replaced.
    virtual std::uint32_t rename_aside(const std::string& from, const std::string& to) = 0;
    // The running program's own file, found from the running image rather than by its name (which
    // the user may have given to another file meanwhile); the reason when it cannot be held.
    virtual Result<std::unique_ptr<ProgramFile>> open_running_program() = 0;
    // Puts the file `from` in the place of `to` in one step, written through to the disk.
    virtual std::uint32_t replace_file(const std::string& from, const std::string& to) = 0;
    virtual std::uint32_t remove_file(const std::string& path) = 0;
    virtual std::optional<FileFacts> file_facts(const std::string& path) = 0;
    // Whether an existing file can be opened for writing right now (closed again at once).
    virtual bool can_open_for_writing(const std::string& path) = 0;
    // Gives the folder the owner and access rules of `sddl` and resets everything in it to inherit them.
    virtual std::uint32_t protect_folder(const std::string& path, const std::string& sddl) = 0;
    virtual void pause(std::chrono::milliseconds duration) = 0;
    virtual LocalTime local_time() = 0;
};

FileSystem& file_system();
// `replacement` nullptr restores the system's.
void set_file_system(FileSystem* replacement);

// The platform layer. POSIX has no owners or access rules and says so (ENOTSUP) where they count.
FolderFacts folder_facts_on_disk(const std::string& path);
std::uint32_t create_protected_folder_on_disk(const std::string& path, const std::string& sddl);
std::uint32_t rename_aside_on_disk(const std::string& from, const std::string& to);
std::uint32_t replace_file_on_disk(const std::string& from, const std::string& to);
std::uint32_t remove_file_on_disk(const std::string& path);
LocalTime local_time_now();
// Replaces `to`, keeping the last-write time (and on Windows the attributes) of `from`.
Result<std::unique_ptr<ProgramFile>> open_running_program_on_disk();
std::optional<FileFacts> file_facts_on_disk(const std::string& path);
// Opens for writing (existing file only, sharing read, write and delete) and closes at once.
bool probe_write_access(const std::string& path);
std::uint32_t protect_folder_on_disk(const std::string& path, const std::string& sddl);

}  // namespace korba
