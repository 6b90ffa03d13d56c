#include "http/message.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "common/text.h"

namespace korba {

namespace {

// More than the fixed lines of a reply head take besides the content type and the extra headers.
constexpr size_t FIXED_HEAD_ROOM = 128;
constexpr size_t BODY_CHUNK = 65536;
// Larger bodies are written from where they are instead of being copied behind the head.
constexpr size_t ONE_WRITE_BODY = 65536;

// Whether `line` starts with `name` (lower case) in any mix of ASCII cases.
bool starts_with_name(std::string_view line, std::string_view name) {
    if (line.size() < name.size()) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        const char c = line[i];
        if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != name[i]) return false;
    }
    return true;
}

// The next run of characters other than white space at or after `pos`, which is left after it;
// empty when there is none.
std::string_view next_token(std::string_view line, size_t& pos) {
    size_t start = std::string_view::npos;
    while (pos < line.size()) {
        const size_t at = pos;
        const bool white = is_white_space(next_code_point(line, pos));
        if (white && start != std::string_view::npos) return line.substr(start, at - start);
        if (!white && start == std::string_view::npos) start = at;
    }
    return start == std::string_view::npos ? std::string_view() : line.substr(start);
}

// `value` in decimal, written into `buffer`.
std::string_view decimal(char (&buffer)[24], size_t value) {
    return {buffer, static_cast<size_t>(std::to_chars(buffer, buffer + sizeof buffer, value).ptr - buffer)};
}

// The value of a header line, trimmed and in lower case.
std::string header_value(std::string_view line, size_t name_size) {
    return ascii_lower(trim_white_space(line.substr(name_size)));
}

void parse_header_line(std::string_view line, HttpRequest& request) {
    if (starts_with_name(line, "origin:")) {
        request.origin = header_value(line, 7);
    } else if (starts_with_name(line, "host:")) {
        request.host = header_value(line, 5);
    } else if (starts_with_name(line, "content-type:")) {
        request.content_type = header_value(line, 13);
    } else if (starts_with_name(line, "content-length:")) {
        request.content_length = parse_unsigned(header_value(line, 15)).value_or(0);
    }
}

}  // namespace

Status send_all(ByteStream& stream, std::string_view data) {
    while (!data.empty()) {
        Result<size_t> sent = stream.send(data.data(), data.size());
        if (!sent) return fail(sent.error());
        if (sent.value() == 0) return fail("send wrote 0 bytes");
        data.remove_prefix(sent.value());
    }
    return success();
}

ReadOutcome read_head(ByteStream& stream, HttpRequest& request, std::string& after_head) {
    // A head that comes whole in its first read, as most do, is judged where it was received;
    // one that takes more reads is gathered in `buffer`.
    std::string& buffer = after_head;
    buffer.clear();
    char chunk[READ_CHUNK];
    size_t searched = 0;  // no blank line starts before this offset
    for (;;) {
        Result<size_t> got = stream.receive(chunk, sizeof chunk);
        if (!got || got.value() == 0) return ReadOutcome::NothingToSay;
        const bool first_read = buffer.empty();
        if (!first_read) buffer.append(chunk, got.value());
        const std::string_view received = first_read ? std::string_view(chunk, got.value()) : buffer;
        // Resumed, not restarted: a head that arrives a byte per read must not cost quadratic time.
        const size_t found = received.find(HEAD_END, searched);
        if (found != std::string_view::npos) {
            const size_t head_end = found + HEAD_END.size();
            parse_head(received.substr(0, head_end), request);
            if (first_read) buffer.assign(received.substr(head_end));
            else buffer.erase(0, head_end);
            return ReadOutcome::Request;
        }
        if (first_read) buffer.assign(received);
        searched = buffer.size() - std::min(buffer.size(), HEAD_END.size() - 1);
        if (buffer.size() > HEADER_LIMIT) {
            (void)write_response(stream, {400, TEXT_TYPE, "headers too large", {}});
            return ReadOutcome::AlreadyAnswered;
        }
    }
}

ReadOutcome read_body(ByteStream& stream, HttpRequest& request, std::string_view after_head) {
    std::string& body = request.body;
    // Sized once: growing by doubling would hold the old and the new buffer at once, and
    // appending no more than is wanted keeps it from growing past that size.
    const size_t wanted = body_capacity(request.content_length);
    body.reserve(wanted);
    body.assign(after_head.substr(0, wanted));
    // Large reads: a body of megabytes in a few hundred calls, not thousands.
    char chunk[BODY_CHUNK];
    while (body.size() < wanted) {
        Result<size_t> got = stream.receive(chunk, sizeof chunk);
        if (!got || got.value() == 0) break;  // cut short: the connection refuses it after its other rules
        body.append(chunk, std::min(got.value(), wanted - body.size()));
        if (body.size() > BODY_LIMIT) {
            (void)send_json_error(stream, 400, "cuerpo demasiado grande", {});
            return ReadOutcome::AlreadyAnswered;
        }
    }
    if (body.size() > request.content_length) body.resize(request.content_length);
    return ReadOutcome::Request;
}

std::optional<size_t> parse_unsigned(std::string_view text) {
    if (!text.empty() && text[0] == '+') text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    size_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const size_t digit = static_cast<size_t>(c - '0');
        if (value > (std::numeric_limits<size_t>::max() - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

void parse_head(std::string_view head, HttpRequest& request) {
    std::string repaired;
    std::string_view rest = is_valid_utf8(head) ? head : (repaired = to_valid_utf8(head));
    size_t line_end = rest.find("\r\n");
    const std::string_view request_line = rest.substr(0, line_end);
    size_t pos = 0;
    request.method = next_token(request_line, pos);
    const std::string_view target = next_token(request_line, pos);
    request.target = target.empty() ? "/" : target;
    while (line_end != std::string_view::npos) {
        rest.remove_prefix(line_end + 2);
        line_end = rest.find("\r\n");
        parse_header_line(rest.substr(0, line_end), request);
    }
    const size_t question = request.target.find('?');
    request.path = request.target.substr(0, question);
    request.query = question == std::string::npos ? "" : request.target.substr(question + 1);
}

std::string_view reason_phrase(std::uint16_t status) {
    switch (status) {
        case 204: return "No Content";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 409: return "Conflict";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "OK";
    }
}

Status write_response(ByteStream& stream, const HttpResponse& response, std::string_view leading_lines) {
    char status[24], length[24];
    // A reply of ordinary size goes out in one write, its body in the same buffer as its head.
    const bool one_write = response.body.size() <= ONE_WRITE_BODY;
    size_t size = FIXED_HEAD_ROOM + response.content_type.size() + leading_lines.size() +
                  (one_write ? response.body.size() : 0);
    for (const auto& [name, value] : response.extra_headers) size += name.size() + value.size() + 4;
    std::string head;
    head.reserve(size);  // allocated once
    head.append("HTTP/1.1 ").append(decimal(status, response.status)).append(" ").append(reason_phrase(response.status));
    head.append("\r\nContent-Type: ").append(response.content_type);
    head.append("\r\nContent-Length: ").append(decimal(length, response.body.size()));
    head.append("\r\nConnection: close\r\n").append(leading_lines);
    for (const auto& [name, value] : response.extra_headers) head.append(name).append(": ").append(value).append("\r\n");
    head.append("\r\n");
    if (one_write) return send_all(stream, head.append(response.body));
    Status sent = send_all(stream, head);
    if (!sent) return sent;
    return send_all(stream, response.body);
}

std::string json_string(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        switch (c) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default: out += (static_cast<unsigned char>(c) < 0x20) ? ' ' : c;
        }
    }
    out += '"';
    return out;
}

std::string json_error_body(std::string_view message) {
    return "{\"ok\":false,\"error\":" + json_string(message) + "}";
}

Status send_json_error(ByteStream& stream, std::uint16_t status, std::string_view message,
                       std::string_view leading_lines) {
    return write_response(stream, {status, JSON_TYPE, json_error_body(message), {}}, leading_lines);
}

}  // namespace korba
