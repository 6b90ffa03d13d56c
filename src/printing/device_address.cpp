#include "printing/device_address.h"

#include <vector>

#include "common/text.h"
#include "printing/spooler.h"

namespace korba {

namespace {

constexpr std::uint32_t RAW_PROTOCOL = 1;

// Decimal digits from 1 to 65535; none at all is the raw printing port.
std::optional<std::uint16_t> port_number(std::string_view digits) {
    if (digits.empty()) return RAW_PRINTING_PORT;
    std::uint32_t number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9' || number > 65535) return std::nullopt;
        number = number * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (number == 0 || number > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(number);
}

}  // namespace

std::string address_text(const DeviceAddress& address) {
    const bool ipv6 = address.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

std::optional<DeviceAddress> parse_device_uri(std::string_view uri) {
    constexpr std::string_view SCHEME = "socket://";
    if (uri.size() < SCHEME.size() || ascii_lower(uri.substr(0, SCHEME.size())) != SCHEME) return std::nullopt;
    std::string_view authority = uri.substr(SCHEME.size());
    authority = authority.substr(0, authority.find_first_of("/?#"));
    std::string_view host = authority;
    std::string_view port;
    if (authority.starts_with('[')) {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = authority.substr(1, close - 1);
        const std::string_view rest = authority.substr(close + 1);
        if (!rest.empty() && !rest.starts_with(':')) return std::nullopt;
        if (!rest.empty()) port = rest.substr(1);
    } else if (const size_t colon = authority.rfind(':'); colon != std::string_view::npos) {
        host = authority.substr(0, colon);
        port = authority.substr(colon + 1);
    }
    const std::optional<std::uint16_t> number = port_number(port);
    // Brackets only enclose an IPv6 address; one left in the host would be shown as another address.
    if (host.empty() || host.find_first_of("[]") != std::string_view::npos || !number) return std::nullopt;
    return DeviceAddress{std::string(host), *number};
}

std::optional<DeviceAddress> standard_tcp_port(const std::string& port_name, Registry& registry) {
    // A backslash would reach another key; shared printers' ports ("\\server\name") carry one.
    if (port_name.empty() || port_name.find('\\') != std::string::npos) return std::nullopt;
    const std::string key = TCP_PORTS_KEY + port_name;
    if (registry.read_number(key, "Protocol") != RAW_PROTOCOL) return std::nullopt;
    std::optional<std::string> host = registry.read_text(key, "HostName");
    if (!host || host->empty()) host = registry.read_text(key, "IPAddress");
    const std::optional<std::uint32_t> port = registry.read_number(key, "PortNumber");
    if (!host || host->empty() || !port || *port == 0 || *port > 65535) return std::nullopt;
    return DeviceAddress{*host, static_cast<std::uint16_t>(*port)};
}

std::optional<DeviceAddress> printer_address(const std::string& printer) {
    if (printer.empty()) return std::nullopt;
    Spooler& spool = spooler();
    const std::u16string name = to_wide(printer);
    const Result<PrinterHandle> opened = spool.open_printer(name.c_str());
    if (!opened) return std::nullopt;
    const std::optional<std::vector<std::byte>> record = read_printer_state(spool, opened.value());
    spool.close_printer(opened.value());
    if (!record) return std::nullopt;
    const auto& state = *reinterpret_cast<const PrinterState*>(record->data());
    if (state.device_uri) return parse_device_uri(state.device_uri);
    if (state.port_name) return standard_tcp_port(from_wide(state.port_name), registry());
    return std::nullopt;
}

}  // namespace korba
