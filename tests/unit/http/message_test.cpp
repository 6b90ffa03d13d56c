#include "http/message.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "unit/http/loopback.h"

namespace korba {
namespace {

using test::PeerSends;

struct Read {
    ReadOutcome outcome;
    HttpRequest request;
};

// The head, then the body, as the connection reads an admitted request.
ReadOutcome read_request(ByteStream& stream, HttpRequest& request) {
    std::string after_head;
    const ReadOutcome head = read_head(stream, request, after_head);
    return head == ReadOutcome::Request ? read_body(stream, request, after_head) : head;
}

// The peer sends `bytes` and closes; the server end reads one request.
Read read_from_peer(std::string bytes) {
    PeerSends peer(std::move(bytes), true);
    Read read{};
    read.outcome = read_request(peer.server(), read.request);
    return read;
}

// A head line padded with one long header to exactly `size` bytes, ended by `ending`.
std::string padded_head(size_t size, std::string_view ending) {
    const std::string start = "POST /raw HTTP/1.1\r\nX-Relleno: ";
    return start + std::string(size - start.size() - ending.size(), 'r') + std::string(ending);
}

std::string pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
    return bytes;
}

TEST(ReadRequest, ParsesTheRequestLineAndTheFourHeadersItKeeps) {
    const std::optional<std::string> none;
    const struct {
        std::string head;
        std::string method, target, path, query;
        std::optional<std::string> origin;
        std::string content_type;
        std::optional<std::string> host = std::nullopt;
    } cases[] = {
        {"GET /status?x=1&y=2 HTTP/1.1\r\nHost: a\r\n\r\n", "GET", "/status?x=1&y=2", "/status", "x=1&y=2", none, "",
         "a"},
        {"GET / HTTP/1.1\r\nHOST:  LocalHost:9230 \r\nHost-Name: b\r\n\r\n", "GET", "/", "/", "", none, "",
         "localhost:9230"},
        {"GET / HTTP/1.1\r\nHost: evil.example\r\nHost: 127.0.0.1\r\n\r\n", "GET", "/", "/", "", none, "", "127.0.0.1"},
        {"GET / HTTP/1.1\r\nHost:\r\nX: 1\nHost: a\r\n\r\n", "GET", "/", "/", "", none, "", ""},
        {"GET\r\n\r\n", "GET", "/", "/", "", none, ""},
        {"\r\n\r\n", "", "/", "/", "", none, ""},
        {"get  /a?b?c \t HTTP/1.1 extra\r\n\r\n", "get", "/a?b?c", "/a", "b?c", none, ""},
        {"POST\xC2\xA0/raw\xE3\x80\x80HTTP/1.1\r\n\r\n", "POST", "/raw", "/raw", "", none, ""},
        {"GET / HTTP/1.1\r\nORIGIN:  HTTP://LOCALHOST:3000 \r\ncOnTeNt-TyPe:Application/JSON\r\n\r\n", "GET", "/", "/",
         "", "http://localhost:3000", "application/json"},
        {"GET / HTTP/1.1\r\nOrigin: http://a\r\nContent-Type: x\r\nOrigin: http://b\r\nContent-Type: y\r\n\r\n", "GET",
         "/", "/", "", "http://b", "y"},
        {"GET / HTTP/1.1\r\nOrigin:\r\n\r\n", "GET", "/", "/", "", "", ""},
        {"GET / HTTP/1.1\r\nOrigin : http://a\r\nX-Origin: http://b\r\n\r\n", "GET", "/", "/", "", none, ""},
        // A lone LF splits nothing: the Origin below is part of the line before it.
        {"GET / HTTP/1.1\r\nX-A: 1\nOrigin: http://a\r\n\r\n", "GET", "/", "/", "", none, ""},
        {"GET /a\nOrigin: http://a\r\n\r\n", "GET", "/a", "/a", "", none, ""},
        // Header-like lines after the blank line are body, not head.
        {"GET / HTTP/1.1\r\n\r\nOrigin: http://a\r\n\r\n", "GET", "/", "/", "", none, ""},
        // Invalid UTF-8 becomes U+FFFD; only ASCII letters are lowered.
        {"GET /\xFF HTTP/1.1\r\nOrigin: HTTP://CAÑA\xC3\r\n\r\n", "GET", "/\xEF\xBF\xBD", "/\xEF\xBF\xBD", "",
         "http://caÑa\xEF\xBF\xBD", ""},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.head);
        const Read read = read_from_peer(test.head);
        ASSERT_EQ(read.outcome, ReadOutcome::Request);
        EXPECT_EQ(read.request.method, test.method);
        EXPECT_EQ(read.request.target, test.target);
        EXPECT_EQ(read.request.path, test.path);
        EXPECT_EQ(read.request.query, test.query);
        EXPECT_EQ(read.request.origin, test.origin);
        EXPECT_EQ(read.request.content_type, test.content_type);
        EXPECT_EQ(read.request.host, test.host);
        EXPECT_EQ(read.request.body, "");
    }
}

TEST(ReadRequest, TheBlankLineIsFoundWhereverTheReadsSplitIt) {
    // Near misses (CR CR LF, a lone LF) sit before the real end, so a search that resumes too
    // late or too early shows.
    const std::string head = "POST /a HTTP/1.1\r\nX: \r\r\n\r\r\n\n\r\nContent-Length: 4\r\n\r\n";
    for (const size_t step : {1, 2, 3, 5, 4096}) {
        SCOPED_TRACE(step);
        test::MemoryStream stream(head + "body\r\n\r\n", step);
        HttpRequest request;
        ASSERT_EQ(read_request(stream, request), ReadOutcome::Request);
        EXPECT_EQ(request.path, "/a");
        EXPECT_EQ(request.content_length, 4u);
        EXPECT_EQ(request.body, "body");
    }
}

TEST(ReadRequest, PeerGoneBeforeTheBlankLineMeansNothingToAnswer) {
    for (const std::string head : {"", "GET / HTTP/1.1\r\n", "GET / HTTP/1.1\n\n", "GET / HTTP/1.1\r\n\r"}) {
        SCOPED_TRACE(head);
        EXPECT_EQ(read_from_peer(head).outcome, ReadOutcome::NothingToSay);
    }
}

TEST(ReadRequest, HeadLimitIsTestedOnlyWhileTheBlankLineIsMissing) {
    // 65536 bytes are still within the limit: the reader asks for more and finds the peer gone.
    EXPECT_EQ(read_from_peer(padded_head(HEADER_LIMIT, "")).outcome, ReadOutcome::NothingToSay);
    // The buffer passes the limit only with its last byte, which completes the blank line.
    const Read crossing = read_from_peer(padded_head(HEADER_LIMIT + 1, "\r\n\r\n"));
    EXPECT_EQ(crossing.outcome, ReadOutcome::Request);
    EXPECT_EQ(crossing.request.path, "/raw");
}

TEST(ReadRequest, HeadOf70000BytesGetsHeadersTooLargeWithoutCorsHeaders) {
    PeerSends peer(padded_head(70000, ""), false);
    HttpRequest request;
    EXPECT_EQ(read_request(peer.server(), request), ReadOutcome::AlreadyAnswered);
    const std::string expected =
        "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 17\r\nConnection: close\r\n\r\n"
        "headers too large";
    EXPECT_EQ(test::receive_text(peer.client(), expected.size()), expected);
}

TEST(ReadRequest, BodyFollowsContentLengthAndStopsWhenThePeerDoes) {
    const struct {
        const char* length_line;
        std::string sent;
        size_t content_length;
        std::string body;
    } cases[] = {
        {"Content-Length: 10\r\n", "0123456789", 10, "0123456789"},
        {"Content-Length: 5\r\n", "0123456789", 5, "01234"},
        {"Content-Length: 100\r\n", pattern(40), 100, pattern(40)},
        {"", "0123456789", 0, ""},
        {"content-length:  +12 \r\n", "0123456789AB", 12, "0123456789AB"},
        {"Content-Length: 007\r\n", "0123456789", 7, "0123456"},
        {"Content-Length: 1 2\r\n", "0123456789", 0, ""},
        {"Content-Length: -1\r\n", "0123456789", 0, ""},
        {"Content-Length: 0x10\r\n", "0123456789", 0, ""},
        {"Content-Length: +\r\n", "0123456789", 0, ""},
        {"Content-Length: ++1\r\n", "0123456789", 0, ""},
        {"Content-Length:\r\n", "0123456789", 0, ""},
        {"Content-Length: 18446744073709551626\r\n", "0123456789", 0, ""},  // wraps to 10 if unchecked
        {"Content-Length: 18446744073709551615\r\n", "0123456789", 18446744073709551615u, "0123456789"},
        // More than the body limit announced: read until the peer stops, not refused up front.
        {"Content-Length: 9000000\r\n", "0123456789", 9000000, "0123456789"},
        {"Content-Length: 3\r\nContent-Length: 2\r\n", "0123456789", 2, "01"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.length_line);
        const Read read = read_from_peer(std::string("POST /raw HTTP/1.1\r\n") + test.length_line + "\r\n" + test.sent);
        ASSERT_EQ(read.outcome, ReadOutcome::Request);
        EXPECT_EQ(read.request.content_length, test.content_length);
        EXPECT_EQ(read.request.body, test.body);
    }
}

TEST(ReadRequest, BodyOfExactlyTheLimitIsAccepted) {
    const std::string body = pattern(BODY_LIMIT);
    const Read read = read_from_peer("POST /raw HTTP/1.1\r\nContent-Length: 8388608\r\n\r\n" + body);
    ASSERT_EQ(read.outcome, ReadOutcome::Request);
    EXPECT_EQ(read.request.body.size(), BODY_LIMIT);
    EXPECT_TRUE(read.request.body == body);
}

TEST(ReadRequest, BodyOneByteOverTheLimitGetsTheJsonErrorWithoutCorsHeaders) {
    PeerSends peer(
        "POST /raw HTTP/1.1\r\nContent-Length: 8388609\r\nOrigin: http://localhost\r\n\r\n" + pattern(BODY_LIMIT + 1),
        false);
    HttpRequest request;
    EXPECT_EQ(read_request(peer.server(), request), ReadOutcome::AlreadyAnswered);
    const std::string expected =
        "HTTP/1.1 400 Bad Request\r\nContent-Type: application/json; charset=utf-8\r\nContent-Length: 46\r\n"
        "Connection: close\r\n\r\n"
        R"({"ok":false,"error":"cuerpo demasiado grande"})";
    EXPECT_EQ(test::receive_text(peer.client(), expected.size()), expected);
}

// What the client receives for one reply written on the server end, up to the close.
std::string written(const HttpResponse& response, std::string_view leading_lines = {}) {
    test::LoopbackPair pair = test::connect_pair();
    EXPECT_TRUE(write_response(*pair.server, response, leading_lines).ok());
    pair.server.reset();
    return test::receive_text(*pair.client);
}

TEST(WriteResponse, StatusLineReasonPhrases) {
    const struct {
        std::uint16_t status;
        const char* line;
    } cases[] = {
        {200, "HTTP/1.1 200 OK\r\n"},
        {204, "HTTP/1.1 204 No Content\r\n"},
        {400, "HTTP/1.1 400 Bad Request\r\n"},
        {403, "HTTP/1.1 403 Forbidden\r\n"},
        {404, "HTTP/1.1 404 Not Found\r\n"},
        {500, "HTTP/1.1 500 Internal Server Error\r\n"},
        {503, "HTTP/1.1 503 Service Unavailable\r\n"},
        {302, "HTTP/1.1 302 OK\r\n"},
    };
    for (const auto& test : cases) {
        EXPECT_EQ(
            written({test.status, TEXT_TYPE, "", {}}),
            std::string(test.line) + "Content-Type: text/plain\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
}

TEST(WriteResponse, FixedHeadersThenLeadingLinesThenExtraHeadersInOrderThenTheBody) {
    EXPECT_EQ(written({200, JSON_TYPE, R"({"printer":"Caña"})", {{"Vary", "Origin"}, {"A-Header", "1"}}},
                      "Lead: a\r\nLead: b\r\n"),
              "HTTP/1.1 200 OK\r\n"
              "Content-Type: application/json; charset=utf-8\r\n"
              "Content-Length: 19\r\n"
              "Connection: close\r\n"
              "Lead: a\r\n"
              "Lead: b\r\n"
              "Vary: Origin\r\n"
              "A-Header: 1\r\n"
              "\r\n"
              R"({"printer":"Caña"})");
    const std::string large(70000, 'x');  // written from where it is, after the head
    EXPECT_EQ(written({200, TEXT_TYPE, large, {}}),
              "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 70000\r\nConnection: close\r\n\r\n" +
                  large);
}

TEST(JsonString, EscapesFiveCharactersAndBlanksOtherControls) {
    const struct {
        std::string text;
        std::string quoted;
    } cases[] = {
        {"", R"("")"},
        {R"(POS "80" \ caja)", R"("POS \"80\" \\ caja")"},
        {"a\tb\nc\rd", R"("a\tb\nc\rd")"},
        {std::string("\f\b\x01\x0B\x0E\x1F\0|", 8), R"("       |")"},
        {"Impresión Caña € 🖨", R"("Impresión Caña € 🖨")"},
        {"\x7F/</", "\"\x7F/</\""},
    };
    for (const auto& test : cases) EXPECT_EQ(json_string(test.text), test.quoted);
}

}  // namespace
}  // namespace korba
