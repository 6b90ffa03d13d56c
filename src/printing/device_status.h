// What an ESC/POS printer says of itself: the four real-time status bytes it sends back for
// DLE EOT 1 to 4, read as words, and the one state a cashier acts on.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korba {

// DLE EOT n for n = 1 (printer), 2 (off line cause), 3 (error cause), 4 (roll paper sensor).
inline constexpr std::string_view STATUS_REQUEST{"\x10\x04\x01\x10\x04\x02\x10\x04\x03\x10\x04\x04", 12};
inline constexpr size_t STATUS_REPLY_SIZE = 4;

struct DeviceStatus {
    bool offline = false;
    std::string paper;          // "ok", "near-end" or "out"
    std::string cover;          // "closed" or "open"
    std::string drawer_signal;  // "high" or "low": the drawer connector's pin 3 as it is
    std::vector<std::string> errors;  // "cutter", "unrecoverable", "auto-recoverable", in that order
};

// The four bytes in request order; nullopt when any of them is not a status byte.
std::optional<DeviceStatus> decode_device_status(std::string_view reply);
// "cover-open", "paper-out", "error", "offline", "paper-near-end" or "ready": the first that applies.
std::string device_state(const DeviceStatus& status);

}  // namespace korba
