#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>

#include "app/browser.h"

extern char** environ;

namespace korba {

namespace {
constexpr const char* OPENER_SCRIPT = "xdg-open \"$1\" >/dev/null 2>&1 &";
}  // namespace

// A short-lived shell puts the opener in the background, so the opener is never our child to reap.
void open_in_browser(const std::string& url) {
    const char* argv[] = {"sh", "-c", OPENER_SCRIPT, "sh", url.c_str(), nullptr};
    pid_t shell = 0;
    if (posix_spawn(&shell, "/bin/sh", nullptr, nullptr, const_cast<char* const*>(argv), environ) != 0) return;
    while (waitpid(shell, nullptr, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace korba
