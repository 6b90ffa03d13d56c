#include "printing/device_address.h"

#include <gtest/gtest.h>

#include "fakes/fake_device.h"
#include "fakes/fake_spooler.h"

namespace korba {
namespace {

TEST(DeviceAddress, OnlySocketUrisNameANetworkPrinter) {
    struct Case {
        const char* uri;
        const char* address;  // nullptr: not a network printer
    };
    const Case cases[] = {
        {"socket://192.168.1.50", "192.168.1.50:9100"},
        {"socket://192.168.1.50:9101", "192.168.1.50:9101"},
        {"SOCKET://caja-1.local:9100", "caja-1.local:9100"},
        {"socket://caja-1.local/", "caja-1.local:9100"},
        {"socket://10.0.0.7:9102/raw?waiteof=false", "10.0.0.7:9102"},
        {"socket://10.0.0.7?contimeout=30", "10.0.0.7:9100"},
        {"socket://[fe80::1]:9100", "[fe80::1]:9100"},
        {"socket://[::1]", "[::1]:9100"},
        {"socket://10.0.0.7:", "10.0.0.7:9100"},
        {"socket://10.0.0.7:65535", "10.0.0.7:65535"},
        {"usb://Maker/Model?serial=1", nullptr},
        {"ipp://10.0.0.7/ipp/print", nullptr},
        {"lpd://10.0.0.7/queue", nullptr},
        {"file:///dev/null", nullptr},
        {"korba-capture:/tmp/x", nullptr},
        {"sockets://10.0.0.7", nullptr},
        {"socket:/10.0.0.7", nullptr},
        {"", nullptr},
        {"socket://", nullptr},
        {"socket://:9100", nullptr},
        {"socket://10.0.0.7:0", nullptr},
        {"socket://10.0.0.7:65536", nullptr},
        {"socket://10.0.0.7:99999999999", nullptr},
        {"socket://10.0.0.7:91x0", nullptr},
        {"socket://[::1", nullptr},
        {"socket://[::1]9100", nullptr},
        {"socket://[[::1]", nullptr},
        {"socket://e::[0f18]:9100", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.uri);
        const std::optional<DeviceAddress> address = parse_device_uri(c.uri);
        EXPECT_EQ(address ? address_text(*address) : "none", c.address ? c.address : "none");
    }
}

TEST(DeviceAddress, StandardTcpIpPortsInRawModeOnly) {
    const std::string key = std::string(TCP_PORTS_KEY) + "IP_10.0.0.7";
    struct Case {
        const char* name;
        std::map<std::string, std::string> texts;
        std::map<std::string, std::uint32_t> numbers;
        const char* address;
    };
    const Case cases[] = {
        {"host name", {{"HostName", "caja-1"}, {"IPAddress", "10.0.0.7"}}, {{"Protocol", 1}, {"PortNumber", 9100}},
         "caja-1:9100"},
        {"empty host name: the address", {{"HostName", ""}, {"IPAddress", "10.0.0.7"}},
         {{"Protocol", 1}, {"PortNumber", 9101}}, "10.0.0.7:9101"},
        {"no host name: the address", {{"IPAddress", "10.0.0.7"}}, {{"Protocol", 1}, {"PortNumber", 9100}},
         "10.0.0.7:9100"},
        {"LPR", {{"HostName", "caja-1"}}, {{"Protocol", 2}, {"PortNumber", 515}}, nullptr},
        {"no protocol", {{"HostName", "caja-1"}}, {{"PortNumber", 9100}}, nullptr},
        {"no port number", {{"HostName", "caja-1"}}, {{"Protocol", 1}}, nullptr},
        {"port number 0", {{"HostName", "caja-1"}}, {{"Protocol", 1}, {"PortNumber", 0}}, nullptr},
        {"port number too big", {{"HostName", "caja-1"}}, {{"Protocol", 1}, {"PortNumber", 65536}}, nullptr},
        {"no host at all", {{"HostName", ""}, {"IPAddress", ""}}, {{"Protocol", 1}, {"PortNumber", 9100}}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeRegistry registry;
        registry.texts[key] = c.texts;
        registry.numbers[key] = c.numbers;
        const std::optional<DeviceAddress> address = standard_tcp_port("IP_10.0.0.7", registry);
        EXPECT_EQ(address ? address_text(*address) : "none", c.address ? c.address : "none");
    }
}

TEST(DeviceAddress, ThePrintersOwnPortLookedUpEachTime) {
    FakeSpooler spooler;
    FakeRegistry registry;
    const std::string key = std::string(TCP_PORTS_KEY) + "IP_10.0.0.7";
    registry.texts[key] = {{"HostName", ""}, {"IPAddress", "10.0.0.7"}};
    registry.numbers[key] = {{"Protocol", 1}, {"PortNumber", 9100}};
    // Shared printers and the other monitors' ports are no key under the TCP/IP ports.
    registry.texts[std::string(TCP_PORTS_KEY) + "\\\\caja\\ticket"] = registry.texts[key];
    registry.numbers[std::string(TCP_PORTS_KEY) + "\\\\caja\\ticket"] = registry.numbers[key];
    struct Case {
        const char* name;
        std::optional<std::u16string> port;
        std::optional<std::string> uri;
        const char* address;
    };
    const Case cases[] = {
        {"windows: a Standard TCP/IP port", u"IP_10.0.0.7", {}, "10.0.0.7:9100"},
        {"windows: USB", u"USB001", {}, nullptr},
        {"windows: LPT", u"LPT1:", {}, nullptr},
        {"windows: WSD", u"WSD-7c1e5a2b-0c1f-4e3b-9a51-2f1e0b9f8f00", {}, nullptr},
        {"windows: a shared printer", u"\\\\caja\\ticket", {}, nullptr},
        {"windows: a file", u"FILE:", {}, nullptr},
        {"cups: socket", {}, "socket://127.0.0.1:9105", "127.0.0.1:9105"},
        {"cups: usb", {}, "usb://Maker/Model", nullptr},
        {"neither", {}, {}, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spooler.port_name = c.port;
        spooler.device_uri = c.uri;
        const std::optional<DeviceAddress> address = printer_address("CAJA");
        EXPECT_EQ(address ? address_text(*address) : "none", c.address ? c.address : "none");
    }
    spooler.calls.clear();
    spooler.state_unreadable = true;
    EXPECT_FALSE(printer_address("CAJA"));
    EXPECT_EQ(spooler.calls.front(), "open CAJA");
    EXPECT_EQ(spooler.calls.back(), "close");
    spooler.calls.clear();
    spooler.open_error = "no existe";
    EXPECT_FALSE(printer_address("CAJA"));
    EXPECT_FALSE(printer_address(""));
    EXPECT_EQ(spooler.calls, (std::vector<std::string>{"open CAJA"}));
}

}  // namespace
}  // namespace korba
