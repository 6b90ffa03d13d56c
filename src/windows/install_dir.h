// The fixed installation folder and the program file inside it.
#pragma once

namespace korba {

inline constexpr const char* INSTALL_DIR = "C:\\KORBA";
inline constexpr const char* INSTALL_EXE = "C:\\KORBA\\korba-vizoza.exe";

}  // namespace korba
