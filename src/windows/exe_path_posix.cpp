#include <limits.h>
#include <unistd.h>

#include "windows/autostart.h"

namespace korba {

std::string current_exe_path() {
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    return length > 0 && static_cast<size_t>(length) < sizeof buffer ? std::string(buffer, length) : std::string();
}

}  // namespace korba
