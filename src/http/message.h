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
inline constexpr size_t HEADER_LIMIT = 65536;
inline constexpr size_t BODY_LIMIT = 8388608;
inline constexpr size_t INITIAL_HEAD_CAPACITY = 8192;

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
    Request,        // a complete head; the body may be cut short (fewer than content_length bytes)
    NothingToSay,   // the peer closed or a read failed before the end of the head
    AlreadyAnswered // a size limit was exceeded and its 400 reply was written
};

ReadOutcome read_request(ByteStream& stream, HttpRequest& request);

// Parses a complete head (request line and headers, up to and including CR LF CR LF).
void parse_head(std::string_view head, HttpRequest& request);
// The standard decimal reading of a machine-word number with an optional "+"; nullopt when not one.
std::optional<size_t> parse_unsigned(std::string_view text);

// Sends all of `data`, a part at a time when the stream takes less; a send of nothing fails.
Status send_all(ByteStream& stream, std::string_view data);

std::string_view reason_phrase(std::uint16_t status);
Status write_response(ByteStream& stream, const HttpResponse& response);
Status send_json_error(ByteStream& stream, std::uint16_t status, std::string_view message, Headers extra_headers);

std::string json_string(std::string_view text);
std::string json_error_body(std::string_view message);

}  // namespace korba
