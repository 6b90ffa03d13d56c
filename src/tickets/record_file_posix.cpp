// The ticket record on POSIX files: appends with O_APPEND, flushes with fsync.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "tickets/record_file.h"

namespace korba {

const char FOLDER_SEPARATOR = '/';
const std::uint32_t LOCKED_ELSEWHERE = EWOULDBLOCK;

namespace {

bool is_folder(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::uint32_t write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t put = write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put < 0) return static_cast<std::uint32_t>(errno);
        data.remove_prefix(static_cast<size_t>(put));
    }
    return 0;
}

// The folder that holds `path`, so that a rename into it is on the disk too.
std::uint32_t flush_folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    const std::uint32_t error = fsync(fd) == 0 ? 0 : static_cast<std::uint32_t>(errno);
    ::close(fd);
    return error;
}

}  // namespace

std::optional<std::string> environment_value(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::uint32_t create_private_folders(const std::string& path) {
    // Each parent first; only the last creation's failure counts.
    std::uint32_t error = 0;
    for (size_t end = 0; end != std::string::npos;) {
        end = path.find('/', end + 1);
        const std::string part = path.substr(0, end);
        error = mkdir(part.c_str(), 0700) == 0 || is_folder(part) ? 0 : static_cast<std::uint32_t>(errno);
    }
    return error;
}

std::uint32_t read_whole_file(const std::string& path, std::string& contents) {
    contents.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? 0 : static_cast<std::uint32_t>(errno);
    char buffer[65536];
    std::uint32_t error = 0;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            error = got < 0 ? static_cast<std::uint32_t>(errno) : 0;
            break;
        }
        contents.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return error;
}

std::uint32_t write_file_flushed(const std::string& path, std::string_view contents) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    std::uint32_t error = write_all(fd, contents);
    if (error == 0 && fsync(fd) != 0) error = static_cast<std::uint32_t>(errno);
    ::close(fd);
    if (error != 0) unlink(path.c_str());
    return error;
}

std::uint32_t rename_over(const std::string& from, const std::string& to) {
    if (rename(from.c_str(), to.c_str()) != 0) return static_cast<std::uint32_t>(errno);
    return flush_folder_of(to);
}

std::uint32_t open_appending(const std::string& path, std::intptr_t& handle) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    handle = fd;
    return 0;
}

// The lock goes with the process: a bridge that is killed leaves none behind.
std::uint32_t open_exclusive(const std::string& path, std::intptr_t& handle) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return static_cast<std::uint32_t>(errno);
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const auto error = static_cast<std::uint32_t>(errno);
        ::close(fd);
        return error;
    }
    handle = fd;
    return 0;
}

std::uint32_t append_to(std::intptr_t handle, std::string_view data, bool flush) {
    const int fd = static_cast<int>(handle);
    if (const std::uint32_t error = write_all(fd, data); error != 0) return error;
    if (flush && fdatasync(fd) != 0) return static_cast<std::uint32_t>(errno);
    return 0;
}

std::uint32_t file_size(std::intptr_t handle, std::uint64_t& size) {
    struct stat info;
    if (fstat(static_cast<int>(handle), &info) != 0) return static_cast<std::uint32_t>(errno);
    size = static_cast<std::uint64_t>(info.st_size);
    return 0;
}

std::uint32_t cut_file(std::intptr_t handle, std::uint64_t size) {
    if (ftruncate(static_cast<int>(handle), static_cast<off_t>(size)) != 0) return static_cast<std::uint32_t>(errno);
    return 0;
}

bool same_file(std::intptr_t handle, const std::string& path) {
    struct stat open_file, named;
    return fstat(static_cast<int>(handle), &open_file) == 0 && stat(path.c_str(), &named) == 0 &&
           open_file.st_dev == named.st_dev && open_file.st_ino == named.st_ino;
}

void close_file(std::intptr_t handle) { ::close(static_cast<int>(handle)); }

}  // namespace korba
