#include "printing/device_status.h"

#include <cstdint>

namespace korba {

namespace {

// A status byte always has bit 0 and bit 7 clear and bits 1 and 4 set.
constexpr std::uint8_t FIXED_BITS = 0x93;
constexpr std::uint8_t FIXED_VALUES = 0x12;

bool is_status_byte(std::uint8_t byte) { return (byte & FIXED_BITS) == FIXED_VALUES; }

}  // namespace

std::optional<DeviceStatus> decode_device_status(std::string_view reply) {
    if (reply.size() != STATUS_REPLY_SIZE) return std::nullopt;
    std::uint8_t bytes[STATUS_REPLY_SIZE];
    for (size_t i = 0; i < STATUS_REPLY_SIZE; ++i) {
        bytes[i] = static_cast<std::uint8_t>(reply[i]);
        if (!is_status_byte(bytes[i])) return std::nullopt;
    }
    const auto [printer, offline_cause, error_cause, paper_sensor] = bytes;
    DeviceStatus status;
    status.offline = printer & 0x08;
    status.drawer_signal = printer & 0x04 ? "high" : "low";
    status.cover = offline_cause & 0x04 ? "open" : "closed";
    // Either report of a paper end wins over a roll that is only near its end.
    const bool out = (paper_sensor & 0x60) || (offline_cause & 0x20);
    status.paper = out ? "out" : paper_sensor & 0x0C ? "near-end" : "ok";
    if (error_cause & 0x08) status.errors.emplace_back("cutter");
    if (error_cause & 0x20) status.errors.emplace_back("unrecoverable");
    if (error_cause & 0x40) status.errors.emplace_back("auto-recoverable");
    return status;
}

std::string device_state(const DeviceStatus& status) {
    if (status.cover == "open") return "cover-open";
    if (status.paper == "out") return "paper-out";
    if (!status.errors.empty()) return "error";
    if (status.offline) return "offline";
    if (status.paper == "near-end") return "paper-near-end";
    return "ready";
}

}  // namespace korba
