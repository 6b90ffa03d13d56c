// The system's own words for an error code, as "{message} (os error {code})".
#pragma once

#include <cstdint>
#include <string>

namespace korba {

// The calling thread's last error code (GetLastError on Windows, errno elsewhere).
std::uint32_t last_system_error();
std::string system_error_text(std::uint32_t code);

}  // namespace korba
