// read_head, then read_body, over a byte stream that hands out the input in reads of varying sizes.
// Checks what the connection frame relies on: the three outcomes, the limits, the body cut
// and the split of the target, and that only the two limit replies are ever written here.
#include <algorithm>
#include <cstring>
#include <string>

#include "common/text.h"
#include "fuzz_input.h"
#include "http/message.h"

namespace {

using korba::fuzz::expect;

// Control byte: bits 0-3 the read size pattern (0: as much as asked), bit 4 a head padded to
// just under the head limit, bit 5 the input ends in a read error instead of a close.
class BufferStream final : public korba::ByteStream {
public:
    BufferStream(std::string input, unsigned control) : input_(std::move(input)), control_(control) {}

    korba::Result<size_t> receive(char* buffer, size_t capacity) override {
        if (position_ == input_.size()) {
            if (control_ & 0x20) return korba::fail("timed out");
            return size_t{0};
        }
        const unsigned step = control_ & 0x0F;
        const size_t wanted = step == 0 ? capacity : 1 + (reads_++ * 7919u) % (step * 97u);
        const size_t n = std::min({capacity, wanted, input_.size() - position_});
        std::memcpy(buffer, input_.data() + position_, n);
        position_ += n;
        return n;
    }

    korba::Result<size_t> send(const char* data, size_t size) override {
        written += std::string_view(data, size);
        return size;
    }

    std::string written;

private:
    std::string input_;
    unsigned control_;
    size_t position_ = 0;
    unsigned reads_ = 0;
};

std::string padded(std::string_view input) {
    return "GET / HTTP/1.1\r\nX-Pad: " + std::string(65500, 'a') + "\r\n" + std::string(input);
}

void check_request(const korba::HttpRequest& request, const std::string& input) {
    expect(input.find("\r\n\r\n") != std::string::npos, "a request without the end of its head");
    expect(request.body.size() <= request.content_length, "body longer than announced");
    expect(request.body.size() <= korba::BODY_LIMIT, "body over the limit");
    const std::string joined =
        request.target.find('?') == std::string::npos ? request.path : request.path + "?" + request.query;
    expect(joined == request.target && request.path.find('?') == std::string::npos, "target split wrongly");
    expect(korba::is_valid_utf8(request.method) && korba::is_valid_utf8(request.target), "invalid UTF-8 kept");
    if (request.origin) {
        expect(*request.origin == korba::ascii_lower(*request.origin), "origin not lower-cased");
        expect(korba::trim_white_space(*request.origin).size() == request.origin->size(), "origin not trimmed");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const unsigned control = data[0];
    const std::string_view rest = korba::fuzz::as_text(data + 1, size - 1);
    const std::string input = (control & 0x10) ? padded(rest) : std::string(rest);

    BufferStream stream(input, control);
    korba::HttpRequest request;
    std::string after_head;
    korba::ReadOutcome outcome = korba::read_head(stream, request, after_head);
    if (outcome == korba::ReadOutcome::Request) outcome = korba::read_body(stream, request, after_head);
    switch (outcome) {
        case korba::ReadOutcome::Request:
            check_request(request, input);
            expect(stream.written.empty(), "a reply written for a readable request");
            break;
        case korba::ReadOutcome::NothingToSay:
            expect(stream.written.empty(), "a reply written with nothing to say");
            break;
        case korba::ReadOutcome::AlreadyAnswered:
            expect(stream.written ==
                       "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: 17\r\n"
                       "Connection: close\r\n\r\nheaders too large",
                   "not the exact head-limit reply");
            expect(input.size() > korba::HEADER_LIMIT, "head limit reply for a short input");
            break;
    }
    return 0;
}
