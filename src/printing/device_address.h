// Where the bridge's printer is on the network, as an administrator set it in the printer's port:
// a Standard TCP/IP port in raw mode on Windows, a socket:// device URI under CUPS. Looked up
// afresh on each call, so a printer moved to another address is followed. Nothing in a request
// ever names an address.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "windows/registry.h"

namespace korba {

inline constexpr std::uint16_t RAW_PRINTING_PORT = 9100;
inline constexpr const char* TCP_PORTS_KEY =
    "SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Standard TCP/IP Port\\Ports\\";

struct DeviceAddress {
    std::string host;  // a name or an address, IPv6 without brackets
    std::uint16_t port = RAW_PRINTING_PORT;
    bool operator==(const DeviceAddress&) const = default;
};

// "host:port", an IPv6 address in brackets.
std::string address_text(const DeviceAddress& address);
// socket://HOST[:PORT], a path or ?options after it ignored; nullopt for any other URI.
std::optional<DeviceAddress> parse_device_uri(std::string_view uri);
// The Standard TCP/IP port of that name when it prints raw; nullopt for any other port.
std::optional<DeviceAddress> standard_tcp_port(const std::string& port_name, Registry& registry);
// The address of the printer's port; nullopt when it is not a network printer (or cannot be read).
std::optional<DeviceAddress> printer_address(const std::string& printer);

}  // namespace korba
