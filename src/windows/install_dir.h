// The fixed installation folder, and placing the running program in it.
#pragma once

#include <chrono>

#include "common/result.h"
#include "windows/file_system.h"

namespace korba {

inline constexpr const char* INSTALL_DIR = "C:\\KORBA";
inline constexpr const char* INSTALL_EXE = "C:\\KORBA\\korba-vizoza.exe";
// The copy is written here first and then renamed over INSTALL_EXE.
inline constexpr const char* INSTALL_EXE_INCOMING = "C:\\KORBA\\korba-vizoza.nuevo";
// An untrusted folder is renamed to this, a local time stamp and, when needed, "-2", "-3" ...
inline constexpr const char* SET_ASIDE_PREFIX = "C:\\KORBA.viejo-";
inline constexpr int SET_ASIDE_NAMES = 100;

// Only Windows installs itself: nothing elsewhere creates a folder named after a Windows path,
// and only there is there an autostart entry to switch.
// Set by the platform file (file_system_win32.cpp / _posix.cpp).
extern const bool SELF_INSTALL_AVAILABLE;

inline constexpr int WRITE_PROBES = 8;
inline constexpr std::chrono::milliseconds WRITE_PROBE_INTERVAL{250};
inline constexpr std::chrono::milliseconds COPY_RETRY_PAUSE{1000};

// Who may change the folder that a SYSTEM service runs from, with well-known SIDs (never group names,
// which Windows translates): owner Administrators, nothing inherited from C:\, SYSTEM and
// Administrators full control, Users read and execute; files inside inherit exactly that.
inline constexpr const char* INSTALL_DIR_PROTECTION = "O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

enum class CopyOutcome { Copied, AlreadyInPlace };

// The running program is INSTALL_EXE (letter case aside; no other normalisation).
bool running_from_install_dir();
// The running program and INSTALL_EXE have the same size and last-write time.
bool installed_copy_matches();
// Makes INSTALL_DIR safe (make_install_dir_safe), then puts the running program at INSTALL_EXE, first
// stopping and deleting an installed service unless the same build already runs as that service.
Result<CopyOutcome> copy_to_install_dir();
// Afterwards INSTALL_DIR is a folder with INSTALL_DIR_PROTECTION that only administrators could have
// filled: a missing one is created with it, a trusted one (trusted_folder) gets it again, and any
// other is renamed aside (nothing in it deleted) and created afresh.
Status make_install_dir_safe();
// The name an untrusted folder is renamed to: attempt 1 the bare time stamp, then "-2", "-3" ...
std::string set_aside_name(const LocalTime& time, int attempt);

}  // namespace korba
