#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "common/system_error.h"
#include "windows/file_system.h"
#include "windows/install_dir.h"

namespace korba {

const bool SELF_INSTALL_AVAILABLE = false;
const std::uint32_t ACCESS_DENIED_ERROR = EACCES;

namespace {
std::uint64_t nanoseconds(const struct timespec& time) {
    return static_cast<std::uint64_t>(time.tv_sec) * 1000000000u + static_cast<std::uint64_t>(time.tv_nsec);
}

const struct timespec& modified(const struct stat& info) { return info.st_mtim; }
const struct timespec& accessed(const struct stat& info) { return info.st_atim; }

// Copies the open `in` into the open `out`; 0 or errno.
std::uint32_t copy_contents(int in, int out) {
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(in, buffer, sizeof buffer);
        if (got < 0) return errno;
        if (got == 0) return 0;
        for (ssize_t done = 0; done < got;) {
            const ssize_t put = write(out, buffer + done, static_cast<size_t>(got - done));
            if (put < 0) return errno;
            done += put;
        }
    }
}
}  // namespace

const std::uint32_t ALREADY_EXISTS_ERROR = EEXIST;

FolderFacts folder_facts_on_disk(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0) return {};
    return {true, S_ISDIR(info.st_mode), S_ISLNK(info.st_mode), ""};
}

std::uint32_t create_protected_folder_on_disk(const std::string&, const std::string&) { return ENOTSUP; }

std::uint32_t rename_aside_on_disk(const std::string& from, const std::string& to) {
    return renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0 ? 0 : errno;
}

std::uint32_t replace_file_on_disk(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

std::uint32_t remove_file_on_disk(const std::string& path) { return unlink(path.c_str()) == 0 ? 0 : errno; }

LocalTime local_time_now() {
    const time_t now = time(nullptr);
    struct tm local;
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec};
}

namespace {
// Here nothing keeps others from writing the file: this build never installs itself.
class HeldProgram final : public ProgramFile {
public:
    explicit HeldProgram(int fd) : fd_(fd) {}
    ~HeldProgram() override { close(fd_); }
    HeldProgram(const HeldProgram&) = delete;
    HeldProgram& operator=(const HeldProgram&) = delete;

    std::uint32_t copy_to(const std::string& to) override {
        struct stat info;
        if (fstat(fd_, &info) != 0 || lseek(fd_, 0, SEEK_SET) != 0) return errno;
        const int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, info.st_mode & 07777);
        if (out < 0) return errno;
        std::uint32_t error = copy_contents(fd_, out);
        const struct timespec times[2] = {accessed(info), modified(info)};
        if (error == 0 && futimens(out, times) != 0) error = errno;
        if (close(out) != 0 && error == 0) error = errno;
        return error;
    }

private:
    int fd_;
};
}  // namespace

// /proc/self/exe is the running image itself, whatever its name is now.
Result<std::unique_ptr<ProgramFile>> open_running_program_on_disk() {
    const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return fail(system_error_text(errno));
    return std::unique_ptr<ProgramFile>(std::make_unique<HeldProgram>(fd));
}

std::optional<FileFacts> file_facts_on_disk(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) return std::nullopt;
    return FileFacts{static_cast<std::uint64_t>(info.st_size), nanoseconds(modified(info))};
}

std::uint32_t protect_folder_on_disk(const std::string&, const std::string&) { return ENOTSUP; }

bool probe_write_access(const std::string& path) {
    const int file = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (file < 0) return false;
    close(file);
    return true;
}

}  // namespace korba
