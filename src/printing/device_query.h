// Asks the bridge's network printer how it is: one TCP connection, DLE EOT 1 to 4, four status
// bytes, closed. The connection is a seam (a socket, or a fake in unit tests), and so is the clock.
// One query runs at a time, and an answer younger than a second is given again, so that a page
// that polls fast never floods a printer that serves one connection at a time.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "http/socket.h"
#include "printing/device_address.h"
#include "printing/device_status.h"

namespace korba {

inline constexpr std::chrono::milliseconds DEVICE_CONNECT_WAIT{1000};
inline constexpr std::chrono::milliseconds DEVICE_ANSWER_WAIT{1000};
inline constexpr std::chrono::milliseconds DEVICE_ANSWER_REUSED_FOR{1000};

using SteadyClock = std::function<std::chrono::steady_clock::time_point()>;

class DeviceLink {
public:
    virtual ~DeviceLink() = default;
    virtual bool send(std::string_view bytes) = 0;
    // At most `most` bytes, waiting at most `wait` for the first; "" when none came (time-out,
    // the printer closed or failed).
    virtual std::string receive(size_t most, std::chrono::milliseconds wait) = 0;
};

class DeviceConnector {
public:
    virtual ~DeviceConnector() = default;
    // A connection made within `wait`, or null.
    virtual std::unique_ptr<DeviceLink> connect(const DeviceAddress& address, std::chrono::milliseconds wait) = 0;
};

struct DeviceReport {
    // "not-network", "unreachable", "no-answer", or a state of device_state.
    std::string state;
    std::optional<std::string> address;
    // What the bytes said; only from "cover-open" on.
    std::optional<DeviceStatus> status;
};

using TcpConnect = std::function<std::optional<NativeSocket>(const std::string& host, std::uint16_t port,
                                                             int milliseconds)>;
// `connect` (connect_tcp) run on a thread of its own and waited for at most `wait`, since the name
// lookup before the connection has no time-out of its own; a connection made too late is closed
// there.
std::optional<NativeSocket> connect_within(const TcpConnect& connect, const DeviceAddress& address,
                                           std::chrono::milliseconds wait);

// One exchange with the printer at `address`; the time taken is read from `now`.
DeviceReport ask_device(const DeviceAddress& address, DeviceConnector& connector, const SteadyClock& now);

class DeviceMonitor {
public:
    DeviceMonitor(DeviceConnector& connector, SteadyClock now);
    // The printer's address looked up and the printer asked, unless an answer for the same
    // printer ended less than DEVICE_ANSWER_REUSED_FOR ago; callers meanwhile wait their turn.
    DeviceReport read(const std::string& printer);

private:
    DeviceConnector& connector_;
    SteadyClock now_;
    std::mutex mutex_;
    struct Answer {
        std::string printer;
        DeviceReport report;
        std::chrono::steady_clock::time_point ended;
    };
    std::optional<Answer> last_;
};

// The bridge's one monitor, over sockets and the steady clock.
DeviceReport read_device(const std::string& printer);

}  // namespace korba
