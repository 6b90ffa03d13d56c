#include <limits.h>
#include <unistd.h>

#ifdef __APPLE__
#include <mach-o/dyld.h>
#endif

#include "windows/autostart.h"

namespace korba {

std::string current_exe_path() {
#ifdef __APPLE__
    char buffer[PATH_MAX];
    uint32_t size = sizeof buffer;
    return _NSGetExecutablePath(buffer, &size) == 0 ? std::string(buffer) : std::string();
#else
    char buffer[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer);
    return length > 0 && static_cast<size_t>(length) < sizeof buffer ? std::string(buffer, length) : std::string();
#endif
}

}  // namespace korba
