#include "http/origin.h"

#include <gtest/gtest.h>

#include <string>

#include "common/constants.h"

namespace korba {
namespace {

const std::string APP = APP_DOMAIN;
const std::string PROJECT = std::string(HOSTING_PROJECT) + "." + HOSTING_DOMAIN;

TEST(Origin, AdmitsTheApplicationAndLoopbackOriginsOnly) {
    const struct {
        std::string origin;
        bool admitted;
    } cases[] = {
        {"https://" + APP, true},
        {"https://www." + APP, true},
        {"http://shop." + APP, true},
        {"https://a.b." + APP, true},
        {"https://main." + PROJECT, true},
        {"http://127.0.0.1", true},
        {"http://127.0.0.1:9230", true},
        {"http://localhost", true},
        {"http://localhost:5173", true},
        {"https://localhost", true},
        {"https://localhost:8443", true},
        {"https://127.0.0.1", true},
        {"https://127.0.0.1:1", true},

        {"", false},
        {"null", false},
        {"http://" + APP, false},
        {"https://" + APP + ":443", false},
        {"https://" + APP + "/", false},
        {"https://www." + APP + ":8080", false},
        {"https://evil" + APP, false},
        {"https://" + PROJECT, false},
        {"https://main." + PROJECT + ":443", false},
        {"http://127.0.0.2", false},
        {"http://[::1]:9230", false},
        {"http://localhost.attacker.example", false},
        {"http://127.0.0.1.attacker.example", false},
        {"https://localhost.attacker.example", false},
        {"http://localhostevil.example", false},
        {"http://localhost@evil.example", false},
        {"http://localhost:", false},
        {"http://localhost:5173/", false},
        {"http://localhost:80.evil.example", false},
        {"http://127.0.0.1:9230:1", false},
        {"ftp://localhost", false},
        {"HTTP://LOCALHOST", false},  // the reader lowers the header before this check
        {"https://x\n." + APP, false},
        {"https://x\r." + APP, false},
        {"https://x\x01." + APP, false},
        {"https://x\x7F." + APP, false},
        {std::string("http://localhost\0", 17), false},
    };
    for (const auto& test : cases) EXPECT_EQ(origin_allowed(test.origin), test.admitted) << test.origin;
}

TEST(Host, AdmitsTheLoopbackNamesWithAnOptionalPortOnly) {
    const struct {
        std::string host;
        bool admitted;
    } cases[] = {
        {"127.0.0.1", true},
        {"127.0.0.1:9230", true},
        {"localhost", true},
        {"localhost:1", true},
        {"", false},
        {"127.0.0.1:", false},
        {"localhost:x", false},
        {"localhost:92 30", false},
        {"127.0.0.2", false},
        {"[::1]:9230", false},
        {"localhost.example", false},
        {"a.localhost", false},
        {"0x7f000001", false},
        {"http://localhost", false},
        {"rebind.example:9230", false},
    };
    for (const auto& test : cases) EXPECT_EQ(host_allowed(test.host), test.admitted) << test.host;
}

TEST(Origin, CorsHeadersEchoTheOriginOrAStarOrNullForAControlCharacter) {
    const std::string fixed =
        "Access-Control-Allow-Methods: GET,POST,OPTIONS\r\nAccess-Control-Allow-Headers: Content-Type\r\n"
        "Access-Control-Allow-Private-Network: true\r\nVary: Origin\r\n";
    for (const std::optional<std::string>& origin : {std::optional<std::string>("http://evil.example"),
                                                     std::optional<std::string>(""), std::optional<std::string>()})
        EXPECT_EQ(cors_header_lines(origin), "Access-Control-Allow-Origin: " + origin.value_or("*") + "\r\n" + fixed);
    for (const std::string origin : {"http://a\nset-cookie: x=1", "http://a\r", "\x1F", "http://a\x7F"})
        EXPECT_EQ(cors_header_lines(origin), "Access-Control-Allow-Origin: null\r\n" + fixed);
}

}  // namespace
}  // namespace korba
