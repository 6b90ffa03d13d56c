// Names and numbers that several parts of the program share.
#pragma once

#include <cstdint>

namespace korba {

inline constexpr std::uint16_t DEFAULT_PORT = 9230;
inline constexpr const char* APP_VERSION = "1.5.0";
inline constexpr const char* APP_BUILD = "1.5.0";
inline constexpr const char* APP_ID = "korba-vizoza";
// CMake reads these and APP_VERSION into the Windows version resource as well.
inline constexpr const char* PRODUCT_NAME = "KORBA Vizoza";
inline constexpr const char* APP_DESCRIPTION = "Vizoza de impresion local para KORBA";
inline constexpr const char* APP_COPYRIGHT = "Copyright (C) 2026 KORBA";
// The service's key name and the name of the per-user autostart value.
inline constexpr const char* SERVICE_NAME = "KORBAVizoza";

// Deployment settings of the web application, chosen at build time.
inline constexpr const char* APP_DOMAIN = KORBA_APP_DOMAIN;
inline constexpr const char* HOSTING_PROJECT = KORBA_HOSTING_PROJECT;
inline constexpr const char* HOSTING_DOMAIN = KORBA_HOSTING_DOMAIN;

}  // namespace korba
