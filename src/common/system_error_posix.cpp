#include <cerrno>
#include <cstring>

#include "common/system_error.h"

namespace korba {

std::uint32_t last_system_error() { return static_cast<std::uint32_t>(errno); }

namespace {
// strerror_r comes in two flavours; overloads pick whichever this libc has.
[[maybe_unused]] const char* pick(int rc, const char* buffer) { return rc == 0 ? buffer : "Unknown error"; }
[[maybe_unused]] const char* pick(const char* text, const char*) { return text; }
}  // namespace

std::string system_error_text(std::uint32_t code) {
    char buffer[256] = {};
    const char* message = pick(strerror_r(static_cast<int>(code), buffer, sizeof buffer), buffer);
    return std::string(message) + " (os error " + std::to_string(code) + ")";
}

}  // namespace korba
