// One HTTP/1.1 request read within fixed limits, and replies that always close.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/result.h"
#include "http/socket.h"

namespace korba {

inline constexpr size_t READ_CHUNK = 4096;
inline constexpr std::string_view HEAD_END = "\r\n\r\n";
inline constexpr size_t HEADER_LIMIT = 65536;
inline constexpr size_t BODY_LIMIT = 8388608;

inline constexpr const char* JSON_TYPE = "application/json; charset=utf-8";
inline constexpr const char* HTML_TYPE = "text/html; charset=utf-8";
inline constexpr const char* TEXT_TYPE = "text/plain";

using Headers = std::vector<std::pair<std::string, std::string>>;

struct HttpRequest {
    std::string method;
    std::string target = "/";
    std::string path = "/";
    std::string query;
    std::optional<std::string> origin;
    std::optional<std::string> host;
    std::string content_type;
    size_t content_length = 0;
    std::string body;
};

struct HttpResponse {
    std::uint16_t status = 200;
    std::string content_type;
    std::string body;
    Headers extra_headers;
};

enum class ReadOutcome {
    Request,         // a complete head (and after read_body its body, maybe cut short)
    NothingToSay,    // the peer closed or a read failed before the end of the head
    AlreadyAnswered  // answered before the client sent all it announced (a size limit exceeded)
};

// The head is read and judged before any body is: a request that is refused never gets a body
// buffer. read_head leaves in `after_head` the bytes that came after the head; read_body then
// fills request.body, whose buffer holds at most body_capacity(content_length) bytes.
ReadOutcome read_head(ByteStream& stream, HttpRequest& request, std::string& after_head);
ReadOutcome read_body(ByteStream& stream, HttpRequest& request, std::string_view after_head);
constexpr size_t body_capacity(size_t content_length) {
    return content_length < BODY_LIMIT + 1 ? content_length : BODY_LIMIT + 1;
}

// Parses a complete head (request line and headers, up to and including CR LF CR LF).
void parse_head(std::string_view head, HttpRequest& request);
// The standard decimal reading of a machine-word number with an optional "+"; nullopt when not one.
std::optional<size_t> parse_unsigned(std::string_view text);

// Sends all of `data`, a part at a time when the stream takes less; a send of nothing fails.
Status send_all(ByteStream& stream, std::string_view data);

std::string_view reason_phrase(std::uint16_t status);
// `leading_lines` (header lines, each ended by CR LF) go after the fixed headers, before the extra ones.
Status write_response(ByteStream& stream, const HttpResponse& response, std::string_view leading_lines = {});
Status send_json_error(ByteStream& stream, std::uint16_t status, std::string_view message,
                       std::string_view leading_lines);

std::string json_string(std::string_view text);
std::string json_error_body(std::string_view message);

}  // namespace korba
