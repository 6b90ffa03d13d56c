// The listener's claim on its port, as the system reports it back.
#include <gtest/gtest.h>
#include <winsock2.h>

#include "http/socket.h"

namespace korba {
namespace {

TEST(ListenerWin32, ClaimsItsPortExclusively) {
    init_sockets();
    const Result<NativeSocket> listener = open_loopback_listener(0, 4);
    ASSERT_TRUE(listener) << listener.error();
    BOOL exclusive = FALSE;
    int size = sizeof exclusive;
    ASSERT_EQ(getsockopt(static_cast<SOCKET>(listener.value()), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                         reinterpret_cast<char*>(&exclusive), &size),
              0);
    EXPECT_TRUE(exclusive);
    close_socket(listener.value());
}

}  // namespace
}  // namespace korba
