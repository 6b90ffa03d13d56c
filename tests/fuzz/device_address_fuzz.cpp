// parse_device_uri over any device URI, and standard_tcp_port over any port name and port key: an
// address has a host and a port, its text (the one the status reply shows) reads back as the same
// address, and the port reader reads no key but its port's own.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "printing/device_address.h"

namespace {

using korba::fuzz::expect;

// One port key of the TCP/IP monitor, and every key asked for.
class PortKey final : public korba::Registry {
public:
    std::string key;
    std::optional<std::string> host_name, ip_address;
    std::optional<std::uint32_t> protocol, port_number;
    std::vector<std::string> asked;

    std::optional<std::string> read_text(const std::string& k, const std::string& value) override {
        asked.push_back(k);
        if (k != key) return std::nullopt;
        return value == "HostName" ? host_name : value == "IPAddress" ? ip_address : std::nullopt;
    }
    std::optional<std::uint32_t> read_number(const std::string& k, const std::string& value) override {
        asked.push_back(k);
        if (k != key) return std::nullopt;
        return value == "Protocol" ? protocol : value == "PortNumber" ? port_number : std::nullopt;
    }
    korba::Result<std::vector<korba::RegistryValue>> list_values(const std::string&) override {
        return std::vector<korba::RegistryValue>{};
    }
};

void check_uri(std::string_view uri) {
    const std::optional<korba::DeviceAddress> address = korba::parse_device_uri(uri);
    if (!address) return;
    expect(!address->host.empty() && address->port != 0, "an address without a host or a port");
    const std::optional<korba::DeviceAddress> again =
        korba::parse_device_uri("socket://" + korba::address_text(*address));
    expect(again == address, "the address's text reads back as another address");
}

// Control byte: bit 0 a Protocol value, bits 1-2 its value, bit 3 a PortNumber, bit 4 a HostName,
// bit 5 an IPAddress; then the port name, the host name, three bytes of port number, the address.
void check_port(std::string_view input) {
    if (input.empty()) return;
    const unsigned control = static_cast<unsigned char>(input[0]);
    input.remove_prefix(1);
    std::string_view name, host_name;
    if (!korba::fuzz::take_prefix(input, 40, name) || !korba::fuzz::take_prefix(input, 64, host_name) ||
        input.size() < 3)
        return;
    const auto byte = [&](size_t i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(input[i])); };
    PortKey registry;
    registry.key = korba::TCP_PORTS_KEY + std::string(name);
    if (control & 0x01) registry.protocol = (control >> 1) & 0x03;
    if (control & 0x08) registry.port_number = byte(0) << 16 | byte(1) << 8 | byte(2);
    if (control & 0x10) registry.host_name = std::string(host_name);
    if (control & 0x20) registry.ip_address = std::string(input.substr(3));

    const std::optional<korba::DeviceAddress> address = korba::standard_tcp_port(std::string(name), registry);
    for (const std::string& key : registry.asked)
        expect(key == registry.key && !name.empty() && name.find('\\') == std::string_view::npos,
               "a key beside the port's own read");
    if (!address) return;
    expect(registry.protocol == 1u && address->port == registry.port_number, "not the raw port's own number");
    // The host is what the port's settings hold, not a URI's part: its text need not read back.
    expect(!address->host.empty(), "an address without a host");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string_view input = korba::fuzz::as_text(data, size);
    check_uri(input);
    check_port(input);
    return 0;
}
