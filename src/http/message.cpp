#include "http/message.h"

#include <algorithm>
#include <limits>

#include "common/text.h"

namespace korba {

namespace {

constexpr std::string_view HEAD_END = "\r\n\r\n";

bool starts_with(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

// Splits at runs of white space, dropping empty tokens; stops after `wanted` tokens.
std::vector<std::string> split_on_white_space(std::string_view line, size_t wanted) {
    std::vector<std::string> tokens;
    std::string current;
    for (size_t pos = 0; pos < line.size() && tokens.size() < wanted;) {
        const size_t start = pos;
        if (is_white_space(next_code_point(line, pos))) {
            if (!current.empty()) tokens.push_back(std::move(current));
            current.clear();
        } else {
            current.append(line.substr(start, pos - start));
        }
    }
    if (!current.empty() && tokens.size() < wanted) tokens.push_back(std::move(current));
    return tokens;
}

void parse_header_line(std::string_view line, HttpRequest& request) {
    const std::string lower = ascii_lower(line);
    const std::string_view text = lower;
    auto rest = [&](size_t prefix) { return std::string(trim_white_space(text.substr(prefix))); };
    if (starts_with(text, "origin:")) {
        request.origin = rest(7);
    } else if (starts_with(text, "host:")) {
        request.host = rest(5);
    } else if (starts_with(text, "content-type:")) {
        request.content_type = rest(13);
    } else if (starts_with(text, "content-length:")) {
        request.content_length = parse_unsigned(rest(15)).value_or(0);
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
    std::string& buffer = after_head;
    buffer.clear();
    buffer.reserve(INITIAL_HEAD_CAPACITY);
    char chunk[READ_CHUNK];
    size_t searched = 0;  // no blank line starts before this offset
    for (;;) {
        Result<size_t> got = stream.receive(chunk, sizeof chunk);
        if (!got || got.value() == 0) return ReadOutcome::NothingToSay;
        buffer.append(chunk, got.value());
        // Resumed, not restarted: a head that arrives a byte per read must not cost quadratic time.
        const size_t found = buffer.find(HEAD_END, searched);
        if (found != std::string::npos) {
            const size_t head_end = found + HEAD_END.size();
            parse_head(std::string_view(buffer).substr(0, head_end), request);
            buffer.erase(0, head_end);
            return ReadOutcome::Request;
        }
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
    char chunk[READ_CHUNK];
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
    const std::string text = to_valid_utf8(head);
    std::string_view rest = text;
    size_t line_end = rest.find("\r\n");
    const std::string_view request_line = rest.substr(0, line_end);
    const std::vector<std::string> tokens = split_on_white_space(request_line, 2);
    request.method = tokens.size() > 0 ? tokens[0] : "";
    request.target = tokens.size() > 1 ? tokens[1] : "/";
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

Status write_response(ByteStream& stream, const HttpResponse& response) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
    head += reason_phrase(response.status);
    head += "\r\nContent-Type: " + response.content_type;
    head += "\r\nContent-Length: " + std::to_string(response.body.size());
    head += "\r\nConnection: close\r\n";
    for (const auto& [name, value] : response.extra_headers) head += name + ": " + value + "\r\n";
    head += "\r\n";
    Status sent = send_all(stream, head);
    if (!sent || response.body.empty()) return sent;
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

Status send_json_error(ByteStream& stream, std::uint16_t status, std::string_view message, Headers extra_headers) {
    return write_response(stream, {status, JSON_TYPE, json_error_body(message), std::move(extra_headers)});
}

}  // namespace korba
