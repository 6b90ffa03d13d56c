// The file that holds the ticket record, behind a small seam: the disk by default, a string in
// unit tests. The platform part (record_file_posix.cpp / _win32.cpp) only wraps system calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "common/result.h"

namespace korba {

inline constexpr const char* RECORD_FILE_NAME = "tickets.log";
// Held by the one bridge that uses the folder's record, for as long as it runs.
inline constexpr const char* RECORD_LOCK_NAME = "tickets.lock";

class RecordFile {
public:
    virtual ~RecordFile() = default;
    // The whole record; empty when there is none yet.
    virtual Result<std::string> read() = 0;
    // Writes a new record beside the old one, flushed to disk, and renames it over the old one.
    virtual Status replace(std::string_view contents) = 0;
    // Adds to the end; with `flush`, returns only once the line is on the disk. A line that
    // fails is cut off again, so that the next one never runs into a fragment of it.
    virtual Status append(std::string_view line, bool flush) = 0;
    // Whether the lines still go to the record in the folder (it was not deleted or replaced
    // under the bridge); when not, only a replace makes the record anew.
    virtual bool in_place() = 0;
};

// The record in `folder`, which is created (with its parents) when missing, for this user only.
// An empty folder is one that could not be found: the record can be neither read nor written.
// While another bridge holds the folder's lock, this one neither reads nor writes the record.
class DiskRecordFile final : public RecordFile {
public:
    explicit DiskRecordFile(std::string folder);
    ~DiskRecordFile() override;
    Result<std::string> read() override;
    Status replace(std::string_view contents) override;
    Status append(std::string_view line, bool flush) override;
    bool in_place() override;

private:
    Status take_folder();
    Status open();
    void let_go();
    const std::string folder_;
    const std::string path_;
    const std::string lock_path_;
    std::intptr_t lock_ = -1;
    std::intptr_t handle_ = -1;
    std::uint64_t length_ = 0;  // what the record holds of whole lines
};

// The record of a preview run, kept nowhere: its tickets never reached a printer, so their ids
// must not count as taken in a later run. The book's memory holds them while the run lasts.
class NoRecordFile final : public RecordFile {
public:
    Result<std::string> read() override { return std::string(); }
    Status replace(std::string_view) override { return success(); }
    Status append(std::string_view, bool) override { return success(); }
    bool in_place() override { return true; }
};

// Where the record lives, from the first that applies: `--data FOLDER`; on Windows the service's
// C:\KORBA\tickets, else %LOCALAPPDATA%\KORBA\tickets; elsewhere $STATE_DIRECTORY (the first of
// its folders), $XDG_STATE_HOME/korba-vizoza, ~/.local/state/korba-vizoza. nullopt when none does.
struct TicketFolderFacts {
    std::optional<std::string> data_option;
    bool windows = false;
    bool service = false;
    std::optional<std::string> (*environment)(const char* name) = nullptr;
};
std::optional<std::string> ticket_folder(const TicketFolderFacts& facts);

// The platform layer; each returns 0 or the system error code.
extern const char FOLDER_SEPARATOR;
std::optional<std::string> environment_value(const char* name);
// Creates the folder and its missing parents, each for the calling user only.
std::uint32_t create_private_folders(const std::string& path);
// A missing file reads as empty.
std::uint32_t read_whole_file(const std::string& path, std::string& contents);
// Creates or empties the file, writes it, flushes it to the disk and closes it; removes it again
// when that fails, so that a full disk keeps no half of it.
std::uint32_t write_file_flushed(const std::string& path, std::string_view contents);
std::uint32_t rename_over(const std::string& from, const std::string& to);
std::uint32_t open_appending(const std::string& path, std::intptr_t& handle);
// Opens the file (created when missing) so that no other process may take it until it is closed;
// LOCKED_ELSEWHERE while one has.
std::uint32_t open_exclusive(const std::string& path, std::intptr_t& handle);
extern const std::uint32_t LOCKED_ELSEWHERE;
std::uint32_t append_to(std::intptr_t handle, std::string_view data, bool flush);
std::uint32_t file_size(std::intptr_t handle, std::uint64_t& size);
// Cuts the file down to `size` bytes; appends go on from there.
std::uint32_t cut_file(std::intptr_t handle, std::uint64_t size);
// Whether the open file is the one at `path` now; false when it cannot be told.
bool same_file(std::intptr_t handle, const std::string& path);
void close_file(std::intptr_t handle);

}  // namespace korba
