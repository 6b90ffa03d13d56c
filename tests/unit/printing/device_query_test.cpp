#include "printing/device_query.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "fakes/fake_device.h"
#include "fakes/fake_spooler.h"
#include "unit/http/loopback.h"

namespace korba {
namespace {

using Log = std::vector<std::string>;
using std::chrono::milliseconds;

const std::string READY(4, '\x12');
const DeviceAddress PRINTER{"10.0.0.7", 9100};

TEST(DeviceQuery, OneConnectionFourRequestsFourBytesWithinASecond) {
    struct Case {
        const char* name;
        bool reachable;
        std::deque<std::pair<milliseconds, std::string>> pieces;
        std::string state;
        Log receives;
        milliseconds taken;
    };
    const Case cases[] = {
        {"at once", true, {{milliseconds{20}, READY}}, "ready", {"receive 4 within 1000"}, milliseconds{20}},
        {"byte by byte, the wait shared",
         true,
         {{milliseconds{100}, "\x12"}, {milliseconds{300}, "\x16"}, {milliseconds{0}, "\x12"}, {milliseconds{590}, "\x12"}},
         "cover-open",
         {"receive 4 within 1000", "receive 3 within 900", "receive 2 within 600", "receive 1 within 600"},
         milliseconds{990}},
        {"the last byte too late",
         true,
         {{milliseconds{600}, "\x12\x12\x12"}, {milliseconds{401}, "\x12"}},
         "no-answer",
         {"receive 4 within 1000", "receive 1 within 400"},
         milliseconds{1000}},
        {"silent", true, {}, "no-answer", {"receive 4 within 1000"}, milliseconds{1000}},
        {"a byte that is no status byte", true, {{milliseconds{0}, "\x12\x12\x92\x12"}}, "no-answer",
         {"receive 4 within 1000"}, milliseconds{0}},
        {"no connection", false, {}, "unreachable", {}, milliseconds{1000}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeClock clock;
        FakeDeviceConnector printer(clock);
        printer.reachable = c.reachable;
        printer.pieces = c.pieces;
        const auto started = clock.now();
        const DeviceReport report = ask_device(PRINTER, printer, clock.function());
        EXPECT_EQ(report.state, c.state);
        EXPECT_EQ(report.address, "10.0.0.7:9100");
        EXPECT_EQ(report.status.has_value(), c.state != "no-answer" && c.state != "unreachable");
        EXPECT_EQ(clock.now() - started, c.taken);
        Log expected{"connect 10.0.0.7:9100 within 1000"};
        if (c.reachable) {
            expected.push_back("send 100401100402100403100404");
            expected.insert(expected.end(), c.receives.begin(), c.receives.end());
            expected.push_back("close");
        }
        EXPECT_EQ(printer.log(), expected);
    }
}

TEST(DeviceQuery, AConnectionLateForItsWaitIsGivenUpAndClosedWhenItComes) {
    init_sockets();
    const NativeSocket listener = test::must(open_loopback_listener(0, 4));
    const std::uint16_t port = local_port(listener);
    const auto connect_now = [port](const std::string&, std::uint16_t, int) -> std::optional<NativeSocket> {
        Result<NativeSocket> connected = connect_loopback(port);
        return connected ? std::optional<NativeSocket>(connected.value()) : std::nullopt;
    };
    // A name lookup that hangs until the caller has given up (or five seconds, when it never does).
    std::promise<void> given_up;
    std::shared_future<void> later = given_up.get_future().share();
    const TcpConnect hanging = [later, connect_now](const std::string& host, std::uint16_t p, int ms) {
        later.wait_for(std::chrono::seconds{5});
        return connect_now(host, p, ms);
    };
    EXPECT_FALSE(connect_within(hanging, PRINTER, milliseconds{50}));
    given_up.set_value();
    Socket late(test::must(accept_connection(listener)));
    late.set_receive_timeout(10);
    char byte;
    const Result<size_t> end = late.receive(&byte, 1);
    EXPECT_TRUE(end && end.value() == 0) << "the late connection was left open";

    const std::optional<NativeSocket> quick = connect_within(connect_now, PRINTER, milliseconds{1000});
    ASSERT_TRUE(quick);
    close_socket(*quick);
    close_socket(listener);
}

class DeviceMonitorTest : public testing::Test {
protected:
    DeviceMonitorTest() { spooler.device_uri = "socket://10.0.0.7"; }
    void answers(milliseconds after) { printer.pieces.emplace_back(after, READY); }

    FakeSpooler spooler;
    FakeClock clock;
    FakeDeviceConnector printer{clock};
    DeviceMonitor monitor{printer, clock.function()};
};

TEST_F(DeviceMonitorTest, AnAnswerIsReusedForASecondFromTheEndOfItsQuery) {
    answers(milliseconds{800});
    EXPECT_EQ(monitor.read("CAJA").state, "ready");
    clock.advance(milliseconds{999});
    EXPECT_EQ(monitor.read("CAJA").state, "ready");
    EXPECT_EQ(printer.connects(), 1);
    // A second after its end, and the printer moved meanwhile: it is looked up and asked again.
    clock.advance(milliseconds{1});
    spooler.device_uri = "socket://10.0.0.8:9101";
    const DeviceReport again = monitor.read("CAJA");
    EXPECT_EQ(printer.connects(), 2);
    EXPECT_EQ(again.state, "no-answer");
    EXPECT_EQ(again.address, "10.0.0.8:9101");
    // Not a network printer any more: nothing to connect to.
    clock.advance(milliseconds{1000});
    spooler.device_uri = "usb://Maker/Model";
    const DeviceReport usb = monitor.read("CAJA");
    EXPECT_EQ(usb.state, "not-network");
    EXPECT_FALSE(usb.address);
    EXPECT_FALSE(usb.status);
    EXPECT_EQ(printer.connects(), 2);
}

TEST_F(DeviceMonitorTest, OneQueryAtATimeAndTheOthersGetItsAnswer) {
    answers(milliseconds{0});
    printer.hold = true;
    DeviceReport first, second;
    std::thread asking([&] { first = monitor.read("CAJA"); });
    // The second caller is given time to reach the printer while the first is held there, which
    // it must not: it waits, and then takes the first one's answer.
    std::this_thread::sleep_for(milliseconds{50});
    std::thread waiting([&] { second = monitor.read("CAJA"); });
    std::this_thread::sleep_for(milliseconds{50});
    printer.release();
    waiting.join();
    asking.join();
    EXPECT_EQ(printer.connects(), 1);
    EXPECT_EQ(first.state, "ready");
    EXPECT_EQ(second.state, "ready");
}

}  // namespace
}  // namespace korba
