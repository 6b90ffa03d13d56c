#include <unistd.h>

#include <cerrno>

#include "common/console.h"

namespace korba {

namespace {
void write_all(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text.remove_prefix(static_cast<size_t>(n));
    }
}
}  // namespace

void write_stdout(std::string_view utf8) { write_all(STDOUT_FILENO, utf8); }
void write_stderr(std::string_view utf8) { write_all(STDERR_FILENO, utf8); }

}  // namespace korba
