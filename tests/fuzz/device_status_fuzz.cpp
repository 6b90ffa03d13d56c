// decode_device_status over any reply, and device_state of what it read: a reply reads only as four
// status bytes, every word is one of its field's, the bits without a meaning here change nothing,
// and the state is one of the six.
#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "printing/device_status.h"

namespace {

using korba::fuzz::expect;

bool one_of(const std::string& word, std::initializer_list<const char*> words) {
    return std::any_of(words.begin(), words.end(), [&](const char* w) { return word == w; });
}

// Bit 0 clear, bit 1 set, bit 4 set, bit 7 clear.
bool status_byte(char c) { return (static_cast<std::uint8_t>(c) & 0x93) == 0x12; }

// The bits each byte's words are read from, besides the fixed ones: in the printer byte the drawer
// signal and off line, then cover and paper end, then the three errors, then the paper sensors.
constexpr std::uint8_t MEANINGFUL[korba::STATUS_REPLY_SIZE] = {0x0C, 0x24, 0x68, 0x6C};

bool same(const korba::DeviceStatus& a, const korba::DeviceStatus& b) {
    return a.offline == b.offline && a.paper == b.paper && a.cover == b.cover && a.drawer_signal == b.drawer_signal &&
           a.errors == b.errors;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    const std::string reply(korba::fuzz::as_text(data, size));
    const std::optional<korba::DeviceStatus> status = korba::decode_device_status(reply);
    expect(status.has_value() ==
               (reply.size() == korba::STATUS_REPLY_SIZE && std::all_of(reply.begin(), reply.end(), status_byte)),
           "a reply read that is not four status bytes, or four that did not read");
    if (!status) return 0;

    expect(one_of(status->paper, {"ok", "near-end", "out"}) && one_of(status->cover, {"closed", "open"}) &&
               one_of(status->drawer_signal, {"high", "low"}),
           "a word that is none of its field's");
    const std::vector<std::string> every_error{"cutter", "unrecoverable", "auto-recoverable"};
    auto next = every_error.begin();
    for (const std::string& error : status->errors) {
        next = std::find(next, every_error.end(), error);
        expect(next != every_error.end(), "errors that are unknown, repeated or out of order");
        ++next;
    }
    std::string plain = reply;
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<char>((plain[i] & MEANINGFUL[i]) | 0x12);
    const std::optional<korba::DeviceStatus> without = korba::decode_device_status(plain);
    expect(without && same(*status, *without), "a bit without a meaning changed the status");

    expect(one_of(korba::device_state(*status),
                  {"cover-open", "paper-out", "error", "offline", "paper-near-end", "ready"}),
           "a state that is none of the six");
    return 0;
}
