#include "http/server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "common/memory.h"
#include "fakes/fake_process_runner.h"
#include "fakes/fake_spooler.h"
#include "http/waiting_room.h"
#include "panel/panel.h"
#include "unit/http/loopback.h"

namespace korba {
namespace {

std::string cors(const std::string& origin) {
    return "Access-Control-Allow-Origin: " + origin +
           "\r\nAccess-Control-Allow-Methods: GET,POST,OPTIONS\r\nAccess-Control-Allow-Headers: Content-Type\r\n"
           "Access-Control-Allow-Private-Network: true\r\nVary: Origin\r\n";
}

std::string json_reply(const std::string& status_line, const std::string& body, const std::string& origin) {
    return status_line +
           "\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n" + cors(origin) + "\r\n" + body;
}

std::string no_content(const std::string& origin) {
    return "HTTP/1.1 204 No Content\r\nContent-Type: text/plain\r\nContent-Length: 0\r\nConnection: close\r\n" +
           cors(origin) + "\r\n";
}

const std::string FORBIDDEN = R"({"ok":false,"error":"origin no permitido"})";
const std::string WRONG_HOST = R"({"ok":false,"error":"host no permitido"})";
const std::string CUT_SHORT = R"({"ok":false,"error":"cuerpo incompleto"})";
const std::string NOT_FOUND = R"({"ok":false,"error":"ruta no encontrada"})";
const std::string BUSY = R"({"ok":false,"error":"el vizoza esta ocupado, vuelve a intentarlo"})";

// The client sends `request` and closes its sending side; what it receives until the close.
std::string exchange(const std::string& request, const ServerConfig& config) {
    test::LoopbackPair pair = test::connect_pair();
    test::send_text(*pair.client, request);
    pair.client->shutdown_sending();
    BodyBudget budget(BODY_BUDGET);
    handle_connection(*pair.server, config, budget);
    pair.server.reset();
    return test::receive_text(*pair.client);
}

TEST(HandleConnection, HostThenOriginThenPreflightThenWholeBodyThenRoutes) {
    const std::string forbidden = "HTTP/1.1 403 Forbidden";
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
        {"GET /status HTTP/1.1\r\nHost: rebind.example:9230\r\n\r\n", json_reply(forbidden, WRONG_HOST, "*")},
        {"OPTIONS /raw HTTP/1.1\r\nHost: localhost.attacker.example\r\nOrigin: http://evil.example\r\n\r\n",
         json_reply(forbidden, WRONG_HOST, "http://evil.example")},
        {"POST /raw HTTP/1.1\r\nHost: 127.0.0.1\r\nHost: evil\r\nContent-Length: 9\r\n\r\n1",
         json_reply(forbidden, WRONG_HOST, "*")},
        {"GET / HTTP/1.1\r\nHost:\r\n\r\n", json_reply(forbidden, WRONG_HOST, "*")},
        {"GET / HTTP/1.1\r\nHost: localhost:\r\n\r\n", json_reply(forbidden, WRONG_HOST, "*")},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:92a0\r\n\r\n", json_reply(forbidden, WRONG_HOST, "*")},
        {"GET / HTTP/1.1\r\nHost: local\nhost\r\n\r\n", json_reply(forbidden, WRONG_HOST, "*")},
        {"GET /nada HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*")},
        {"GET /nada HTTP/1.1\r\nHOST: LocalHost:09230 \r\n\r\n", json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*")},
        // Only a preview run has the virtual printer's route.
        {"GET /preview HTTP/1.1\r\n\r\n", json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*")},
        // A control character inside an origin is never admitted nor echoed.
        {"GET / HTTP/1.1\r\nOrigin: https://x\nset-cookie: a=b.korba.app\r\n\r\n",
         json_reply(forbidden, FORBIDDEN, "null")},
        {"GET / HTTP/1.1\r\nOrigin: http://localhost\r:1\r\n\r\n", json_reply(forbidden, FORBIDDEN, "null")},
        {"GET / HTTP/1.1\r\nOrigin: https://a\x7f.korba.app\r\n\r\n", json_reply(forbidden, FORBIDDEN, "null")},
        // A body cut short is refused after the host and origin rules and the preflight.
        {"POST /raw HTTP/1.1\r\nContent-Length: 10\r\nOrigin: http://evil.example\r\n\r\n01234",
         json_reply(forbidden, FORBIDDEN, "http://evil.example")},
        {"POST /raw HTTP/1.1\r\nContent-Length: 10\r\nOrigin: http://localhost\r\n\r\n01234",
         json_reply("HTTP/1.1 400 Bad Request", CUT_SHORT, "http://localhost")},
        {"OPTIONS /raw HTTP/1.1\r\nContent-Length: 1\r\n\r\n", no_content("*")},
        {"POST /nada HTTP/1.1\r\nContent-Length: 2\r\n\r\n0123", json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*")},
        {"POST /nada HTTP/1.1\r\n\r\n0123", json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*")},
        {"GET /status HTTP/1.1\r\nOrigin: http://evil.example\r\n\r\n",
         json_reply("HTTP/1.1 403 Forbidden", FORBIDDEN, "http://evil.example")},
        {"OPTIONS /raw HTTP/1.1\r\nOrigin: http://localhost.attacker.example\r\n\r\n",
         json_reply("HTTP/1.1 403 Forbidden", FORBIDDEN, "http://localhost.attacker.example")},
        {"GET / HTTP/1.1\r\nOrigin: \r\n\r\n", json_reply("HTTP/1.1 403 Forbidden", FORBIDDEN, "")},
        {"GET / HTTP/1.1\r\nOrigin: null\r\n\r\n", json_reply("HTTP/1.1 403 Forbidden", FORBIDDEN, "null")},
        {"OPTIONS /raw HTTP/1.1\r\nOrigin: http://localhost:5173\r\n\r\n", no_content("http://localhost:5173")},
        {"OPTIONS /any/path?x HTTP/1.1\r\n\r\n", no_content("*")},
        {"GET /nada HTTP/1.1\r\n\r\n", json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*")},
        {"GET /nada HTTP/1.1\r\nOrigin: HTTP://LOCALHOST:3000\r\n\r\n",
         json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "http://localhost:3000")},
        {"options /raw HTTP/1.1\r\n\r\n", json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*")},
        {"GET /nada HTTP/1.1\r\nOrigin: http://evil.example\r\nOrigin: http://127.0.0.1:9230\r\n\r\n",
         json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "http://127.0.0.1:9230")},
    };
    const ServerConfig config{"POS 80", 9230};
    for (const auto& test : cases) {
        SCOPED_TRACE(test.request);
        EXPECT_EQ(exchange(test.request, config), test.reply);
    }
}

TEST(HandleConnection, ABodyCutShortPrintsNothingAndChangesNothing) {
    FakeSpooler spooler;
    FakeProcessRunner runner;
    const ServerConfig config{"POS 80", 9230};
    for (const std::string request : {"POST /raw HTTP/1.1\r\nContent-Length: 6\r\n\r\nTICKE",
                                      "POST /pulse HTTP/1.1\r\nContent-Length: 9\r\n\r\n{\"pin\":5",
                                      "POST /startup HTTP/1.1\r\nContent-Length: 12\r\n\r\n{\"enable\":1"}) {
        SCOPED_TRACE(request);
        EXPECT_EQ(exchange(request, config), json_reply("HTTP/1.1 400 Bad Request", CUT_SHORT, "*"));
    }
    // A client that falls silent mid-body: the read times out.
    test::MemoryStream silent("POST /raw HTTP/1.1\r\nContent-Length: 6\r\n\r\nTICKE", 4096,
                              test::MemoryStream::End::TimesOut);
    BodyBudget budget(BODY_BUDGET);
    handle_connection(silent, config, budget);
    EXPECT_EQ(silent.sent, json_reply("HTTP/1.1 400 Bad Request", CUT_SHORT, "*"));
    EXPECT_EQ(spooler.calls, std::vector<std::string>{});
    EXPECT_EQ(runner.command_lines(), std::vector<std::string>{});
}

TEST(HandleConnection, RefusedAndPreflightAndBusyAreAnsweredFromTheHeadAlone) {
    // A read past the head would throw and leave no reply.
    const std::string no_body = "Content-Length: 8388608\r\n\r\n";
    const struct {
        std::string head;
        std::string reply;
    } cases[] = {
        {"POST /raw HTTP/1.1\r\nHost: rebind.example\r\n", json_reply("HTTP/1.1 403 Forbidden", WRONG_HOST, "*")},
        {"POST /raw HTTP/1.1\r\nOrigin: http://evil.example\r\n",
         json_reply("HTTP/1.1 403 Forbidden", FORBIDDEN, "http://evil.example")},
        {"OPTIONS /raw HTTP/1.1\r\nOrigin: http://localhost\r\n", no_content("http://localhost")},
        {"POST /raw HTTP/1.1\r\nOrigin: http://localhost\r\n",
         json_reply("HTTP/1.1 503 Service Unavailable", BUSY, "http://localhost")},
    };
    const ServerConfig config{"POS 80", 9230};
    BodyBudget budget(BODY_LIMIT - 1);
    for (const auto& test : cases) {
        SCOPED_TRACE(test.head);
        test::MemoryStream stream(test.head + no_body + "0123", 4096, test::MemoryStream::End::OutOfMemory);
        EXPECT_EQ(handle_connection(stream, config, budget), ReadOutcome::AlreadyAnswered);  // the rest is drained
        EXPECT_EQ(stream.sent, test.reply);
    }
    // The whole body came with the head: nothing is left to drain.
    test::MemoryStream whole("OPTIONS /raw HTTP/1.1\r\nContent-Length: 4\r\n\r\n0123", 4096);
    EXPECT_EQ(handle_connection(whole, config, budget), ReadOutcome::Request);
    EXPECT_TRUE(budget.take(BODY_LIMIT - 1));
}

TEST(HandleConnection, ABodyHoldsItsShareOfTheBudgetUntilTheRequestEnds) {
    const ServerConfig config{"POS 80", 9230};
    BodyBudget budget(100);
    ASSERT_TRUE(budget.take(40));  // another connection's body
    const std::string busy = json_reply("HTTP/1.1 503 Service Unavailable", BUSY, "*");
    test::MemoryStream over("POST /nada HTTP/1.1\r\nContent-Length: 61\r\n\r\n", 4096);
    handle_connection(over, config, budget);
    EXPECT_EQ(over.sent, busy);
    test::MemoryStream fits("POST /nada HTTP/1.1\r\nContent-Length: 60\r\n\r\n" + std::string(60, 'x'), 4096);
    handle_connection(fits, config, budget);
    EXPECT_EQ(fits.sent, json_reply("HTTP/1.1 404 Not Found", NOT_FOUND, "*"));
    budget.give_back(40);
    // A request counts at most the body limit plus one, whatever it announces.
    BodyBudget one_body(BODY_LIMIT + 1);
    test::MemoryStream huge("POST /raw HTTP/1.1\r\nContent-Length: 18446744073709551615\r\n\r\n0123", 4096);
    handle_connection(huge, config, one_body);
    EXPECT_EQ(huge.sent, json_reply("HTTP/1.1 400 Bad Request", CUT_SHORT, "*"));
    // Everything was given back, also by the request that ended in an exception.
    test::MemoryStream thrown("POST /raw HTTP/1.1\r\nContent-Length: 100\r\n\r\n0123", 4096,
                              test::MemoryStream::End::OutOfMemory);
    EXPECT_EQ(handle_connection(thrown, config, budget), ReadOutcome::NothingToSay);
    EXPECT_TRUE(budget.take(100));
    EXPECT_TRUE(one_body.take(BODY_LIMIT + 1));
}

TEST(HandleConnection, NothingIsReceivedPastTheRequestsDeadline) {
    const ServerConfig config{"POS 80", 9230};
    BodyBudget budget(BODY_BUDGET);
    test::MemoryStream late("GET /favicon.ico HTTP/1.1\r\n\r\n", 4096);
    EXPECT_EQ(handle_connection(late, config, budget, std::chrono::steady_clock::now()), ReadOutcome::NothingToSay);
    EXPECT_EQ(late.sent, "");
    EXPECT_EQ(budget.left(), BODY_BUDGET);
    // What had come before the deadline is read all the same.
    test::MemoryStream nothing_more("", 4096);
    EXPECT_EQ(handle_connection(nothing_more, config, budget, std::chrono::steady_clock::now(), SIZE_MAX,
                                "GET /favicon.ico HTTP/1.1\r\n\r\n"),
              ReadOutcome::Request);
    EXPECT_EQ(nothing_more.sent, no_content("*"));
}

TEST(HandleConnection, ALargeReplyHoldsItsShareOfTheBudgetWhileItIsSent) {
    const ServerConfig config{"POS 80", 9230};
    const size_t page = std::string_view(panel_html()).size();
    ASSERT_GT(page, 64u * 1024);
    BodyBudget budget(page);
    ASSERT_TRUE(budget.take(1));
    test::MemoryStream refused("GET / HTTP/1.1\r\n\r\n", 4096);
    handle_connection(refused, config, budget);
    EXPECT_EQ(refused.sent, json_reply("HTTP/1.1 503 Service Unavailable", BUSY, "*"));
    budget.give_back(1);
    test::MemoryStream served("GET / HTTP/1.1\r\n\r\n", 4096);
    handle_connection(served, config, budget);
    EXPECT_TRUE(served.sent.starts_with("HTTP/1.1 200 OK\r\n"));
    EXPECT_TRUE(budget.take(page)) << "given back once sent";
}

TEST(HandleConnection, AnExceptionEndsThatConnectionWithoutAReply) {
    const ServerConfig config{"POS 80", 9230};
    // Memory runs out while the body is read.
    test::MemoryStream stream("POST /raw HTTP/1.1\r\nContent-Length: 100\r\n\r\n0123", 4096,
                              test::MemoryStream::End::OutOfMemory);
    BodyBudget budget(BODY_BUDGET);
    EXPECT_EQ(handle_connection(stream, config, budget), ReadOutcome::NothingToSay);
    EXPECT_EQ(stream.sent, "");
    // The command runner cannot start the thread that reads the child's output.
    FakeProcessRunner runner;
    runner.will_throw_thread_error();
    EXPECT_EQ(exchange("POST /startup HTTP/1.1\r\nContent-Length: 12\r\n\r\n{\"enable\":0}", config), "");
    EXPECT_EQ(runner.command_lines().size(), 1u);
}

TEST(ServingMemory, AConnectionThreadStartsWithHalfAMebibyteOfStackWhateverTheThreadLocalStorage) {
    tune_memory_for_serving();
    bool ran = false;
    std::thread connection([&ran] {
        volatile char deep[448 * 1024];
        std::memset(const_cast<char*>(deep), 1, sizeof deep);
        ran = deep[sizeof deep - 1] == 1;
    });
    connection.join();
    EXPECT_TRUE(ran);
}

// A room for two: a connection waits without being served until its head is whole, and when the
// room is full the one silent the longest gives way to the next waiting to be accepted.
TEST(WaitingRoom, ServesWholeHeadsWithTheirBytesAndTheQuietestGivesWay) {
    using namespace std::chrono_literals;
    init_sockets();
    const NativeSocket listener = test::must(bind_listener(0));
    const auto connect = [&] { return std::make_unique<Socket>(test::must(connect_loopback(local_port(listener)))); };
    WaitingRoom room(listener, {2, 30s, 30s, 0ms});
    const auto wait_until = [&room](auto reached) {
        for (int i = 0; i < 1000 && !reached(); ++i) room.wait(20ms);
        return reached();
    };
    const auto silent = connect();
    const auto half = connect();
    test::send_text(*half, "GET / HTTP/1.1\r\n");
    ASSERT_TRUE(wait_until([&] { return room.size() == 2; }));
    room.wait(100ms);
    EXPECT_FALSE(room.has_ready());

    const auto whole = connect();
    test::send_text(*whole, "POST /raw HTTP/1.1\r\nContent-Length: 2\r\n\r\nab");
    const auto next_received = [&] {
        if (!wait_until([&] { return room.has_ready(); })) return std::string("(nothing ready)");
        Arrival arrival = *room.take_ready();
        close_socket(arrival.handle);
        return arrival.received;
    };
    EXPECT_EQ(next_received().substr(0, 41), "POST /raw HTTP/1.1\r\nContent-Length: 2\r\n\r\n");
    silent->set_receive_timeout(5);
    EXPECT_EQ(test::receive_text(*silent), "");  // closed, with nothing said
    test::send_text(*half, "\r\n");
    EXPECT_EQ(next_received(), "GET / HTTP/1.1\r\n\r\n");
    close_socket(listener);
}

}  // namespace
}  // namespace korba
