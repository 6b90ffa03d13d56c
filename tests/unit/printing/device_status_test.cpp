#include "printing/device_status.h"

#include <gtest/gtest.h>

namespace korba {
namespace {

using Words = std::vector<std::string>;

std::string bytes(std::uint8_t printer, std::uint8_t offline, std::uint8_t error, std::uint8_t paper) {
    return {static_cast<char>(printer), static_cast<char>(offline), static_cast<char>(error), static_cast<char>(paper)};
}

constexpr std::uint8_t BASE = 0x12;  // bits 1 and 4, the fixed ones

TEST(DeviceStatus, EachBitReadsAsItsWordAndTheFirstStateThatApplies) {
    struct Case {
        const char* name;
        std::string reply;
        bool offline;
        std::string paper, cover, signal;
        Words errors;
        std::string state;
    };
    const Case cases[] = {
        {"nothing set", bytes(BASE, BASE, BASE, BASE), false, "ok", "closed", "low", {}, "ready"},
        {"drawer pin 3 high", bytes(BASE | 0x04, BASE, BASE, BASE), false, "ok", "closed", "high", {}, "ready"},
        {"off line", bytes(BASE | 0x08, BASE, BASE, BASE), true, "ok", "closed", "low", {}, "offline"},
        {"cover open", bytes(BASE | 0x08, BASE | 0x04, BASE, BASE), true, "ok", "open", "low", {}, "cover-open"},
        {"stopped by paper end", bytes(BASE, BASE | 0x20, BASE, BASE), false, "out", "closed", "low", {}, "paper-out"},
        {"paper near end, bit 2", bytes(BASE, BASE, BASE, BASE | 0x04), false, "near-end", "closed", "low", {},
         "paper-near-end"},
        {"paper near end, bit 3", bytes(BASE, BASE, BASE, BASE | 0x08), false, "near-end", "closed", "low", {},
         "paper-near-end"},
        {"paper end, bit 5", bytes(BASE, BASE, BASE, BASE | 0x20), false, "out", "closed", "low", {}, "paper-out"},
        {"paper end wins over near end", bytes(BASE, BASE, BASE, BASE | 0x4C), false, "out", "closed", "low", {},
         "paper-out"},
        {"cutter", bytes(BASE, BASE, BASE | 0x08, BASE), false, "ok", "closed", "low", {"cutter"}, "error"},
        {"unrecoverable", bytes(BASE, BASE, BASE | 0x20, BASE), false, "ok", "closed", "low", {"unrecoverable"},
         "error"},
        {"every error, in order", bytes(BASE, BASE, BASE | 0x68, BASE), false, "ok", "closed", "low",
         {"cutter", "unrecoverable", "auto-recoverable"}, "error"},
        {"bits with no meaning here", bytes(BASE | 0x60, BASE | 0x4A, BASE | 0x04, BASE), false, "ok", "closed",
         "low", {}, "ready"},
        // The order: cover, paper end, errors, off line, near end.
        {"cover before paper end", bytes(BASE | 0x08, BASE | 0x24, BASE | 0x08, BASE | 0x60), true, "out", "open",
         "low", {"cutter"}, "cover-open"},
        {"paper end before an error", bytes(BASE | 0x08, BASE | 0x20, BASE | 0x40, BASE | 0x60), true, "out",
         "closed", "low", {"auto-recoverable"}, "paper-out"},
        {"an error before off line", bytes(BASE | 0x0C, BASE, BASE | 0x08, BASE | 0x0C), true, "near-end", "closed",
         "high", {"cutter"}, "error"},
        {"off line before near end", bytes(BASE | 0x08, BASE, BASE, BASE | 0x0C), true, "near-end", "closed", "low",
         {}, "offline"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<DeviceStatus> status = decode_device_status(c.reply);
        ASSERT_TRUE(status);
        EXPECT_EQ(status->offline, c.offline);
        EXPECT_EQ(status->paper, c.paper);
        EXPECT_EQ(status->cover, c.cover);
        EXPECT_EQ(status->drawer_signal, c.signal);
        EXPECT_EQ(status->errors, c.errors);
        EXPECT_EQ(device_state(*status), c.state);
    }
}

TEST(DeviceStatus, AnyByteWithoutItsFixedBitsIsNoReply) {
    const std::string cases[] = {
        bytes(BASE | 0x01, BASE, BASE, BASE), bytes(BASE, BASE | 0x80, BASE, BASE),
        bytes(BASE, BASE, 0x10, BASE),        bytes(BASE, BASE, BASE, 0x02),
        bytes(0x00, 0x00, 0x00, 0x00),        bytes(0xFF, 0xFF, 0xFF, 0xFF),
        bytes(BASE, BASE, BASE, BASE).substr(0, 3), bytes(BASE, BASE, BASE, BASE) + char(BASE),
        "",
    };
    for (const std::string& reply : cases) EXPECT_FALSE(decode_device_status(reply)) << testing::PrintToString(reply);
}

}  // namespace
}  // namespace korba
