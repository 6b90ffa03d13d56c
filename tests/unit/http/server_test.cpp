#include "http/server.h"

#include <gtest/gtest.h>

#include <string>

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
const std::string NOT_FOUND = R"({"ok":false,"error":"ruta no encontrada"})";

TEST(HandleConnection, OriginCheckThenPreflightThenRoutes) {
    const struct {
        std::string request;
        std::string reply;
    } cases[] = {
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
        test::LoopbackPair pair = test::connect_pair();
        test::send_text(*pair.client, test.request);
        handle_connection(*pair.server, config);
        pair.server.reset();
        EXPECT_EQ(test::receive_text(*pair.client), test.reply);
    }
}

}  // namespace
}  // namespace korba
