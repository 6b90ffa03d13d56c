#include "http/socket.h"

#include <algorithm>
#include <chrono>

namespace korba {

int Socket::send_milliseconds_left() {
    if (send_timeout_seconds_ <= 0) return -1;
    using namespace std::chrono;
    const std::int64_t now = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    if (send_deadline_ms_ == 0) send_deadline_ms_ = now + std::int64_t{send_timeout_seconds_} * 1000;
    return static_cast<int>(std::max<std::int64_t>(send_deadline_ms_ - now, 0));
}

}  // namespace korba
