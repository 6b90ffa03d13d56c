// For the Win32 file layer and its tests: what a security descriptor is read as.
#pragma once

#include <windows.h>

#include <string>

namespace korba {

// The descriptor's owner and access list as SDDL text: a NULL list is "D:NO_ACCESS_CONTROL", an
// absent one has no "D:" part. Empty when the system cannot write it.
std::string security_text(PSECURITY_DESCRIPTOR descriptor);

}  // namespace korba
