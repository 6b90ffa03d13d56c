#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "common/system_error.h"
#include "windows/process.h"
#include "windows/win_command_line.h"

extern char** environ;

namespace korba {

const char PATH_LIST_SEPARATOR = ':';
const char* const FOLDER_SEPARATORS = "/";
const char* const PROGRAM_SUFFIX = "";

std::vector<std::string> system_program_folders() { return {}; }

std::string path_variable() {
    const char* path = std::getenv("PATH");
    return path ? path : "";
}

bool is_program_file(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

namespace {

bool open_pipe(int fds[2]) { return pipe2(fds, O_CLOEXEC) == 0; }

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// Reads both pipes as data arrives, so a child that fills one cannot stall on it.
void drain(Fd& out, Fd& err, CommandOutput& output) {
    pollfd fds[2] = {{out.fd, POLLIN, 0}, {err.fd, POLLIN, 0}};
    std::string* sinks[2] = {&output.stdout_bytes, &output.stderr_bytes};
    int open_pipes = 2;
    char buffer[65536];
    while (open_pipes > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
}

std::uint32_t wait_exit_code(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    return 128 + static_cast<std::uint32_t>(WTERMSIG(status));
}

}  // namespace

Result<CommandOutput> run_process(const std::string& application, const std::string& command_line,
                                  const std::string& folder) {
    std::vector<std::string> args = split_command_line(command_line);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out_pipe[2], err_pipe[2];
    if (!open_pipe(out_pipe)) return fail(system_error_text(last_system_error()));
    Fd out_read{out_pipe[0]}, out_write{out_pipe[1]};
    if (!open_pipe(err_pipe)) return fail(system_error_text(last_system_error()));
    Fd err_read{err_pipe[0]}, err_write{err_pipe[1]};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out_write.fd, 1);
    posix_spawn_file_actions_adddup2(&actions, err_write.fd, 2);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, application.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return fail(system_error_text(static_cast<std::uint32_t>(rc)));

    // Only the child may hold the writing ends, or the pipes never reach their end.
    close(out_write.fd);
    out_write.fd = -1;
    close(err_write.fd);
    err_write.fd = -1;
    CommandOutput output;
    drain(out_read, err_read, output);
    output.exit_code = wait_exit_code(pid);
    return output;
}

}  // namespace korba
