#include "common/text.h"

#include <cstdio>

namespace korba {

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;


// Follows the "maximal subpart" practice: each ill-formed prefix is one invalid unit.
bool decode_one(std::string_view s, size_t& pos, char32_t& out) {
    const auto lead = static_cast<unsigned char>(s[pos++]);
    out = REPLACEMENT;
    if (lead < 0x80) {
        out = lead;
        return true;
    }
    int needed = 0;
    char32_t cp = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        needed = 1;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        needed = 2;
        cp = lead & 0x0F;
        if (lead == 0xE0) lo = 0xA0;
        if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        needed = 3;
        cp = lead & 0x07;
        if (lead == 0xF0) lo = 0x90;
        if (lead == 0xF4) hi = 0x8F;
    } else {
        return false;
    }
    for (int i = 0; i < needed; ++i) {
        if (pos >= s.size()) return false;
        const auto b = static_cast<unsigned char>(s[pos]);
        if (b < lo || b > hi) return false;
        lo = 0x80;
        hi = 0xBF;
        cp = (cp << 6) | (b & 0x3F);
        ++pos;
    }
    out = cp;
    return true;
}

}  // namespace

char32_t next_code_point(std::string_view s, size_t& pos) {
    char32_t c;
    decode_one(s, pos, c);
    return c;
}

void append_utf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool is_valid_utf8(std::string_view bytes) {
    char32_t c;
    for (size_t pos = 0; pos < bytes.size();) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;  // ASCII, the most of any text, without decoding
        } else if (!decode_one(bytes, pos, c)) {
            return false;
        }
    }
    return true;
}

std::string to_valid_utf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        // Copy runs of ASCII without decoding them one by one.
        const size_t start = pos;
        while (pos < bytes.size() && static_cast<unsigned char>(bytes[pos]) < 0x80) ++pos;
        out.append(bytes.data() + start, pos - start);
        if (pos < bytes.size()) append_utf8(out, next_code_point(bytes, pos));
    }
    return out;
}

std::u16string to_wide(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size() + 1);
    for (size_t pos = 0; pos < utf8.size();) {
        const char32_t c = next_code_point(utf8, pos);
        if (c < 0x10000) {
            out += static_cast<char16_t>(c);
        } else {
            out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;  // c_str() supplies the terminating NUL
}

std::string from_wide(std::u16string_view wide) {
    std::string out;
    out.reserve(wide.size());
    for (size_t i = 0; i < wide.size(); ++i) {
        const char16_t unit = wide[i];
        char32_t c = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
                c = 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(wide[i + 1]) - 0xDC00);
                ++i;
            } else {
                c = REPLACEMENT;
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            c = REPLACEMENT;
        }
        append_utf8(out, c);
    }
    return out;
}

bool is_white_space(char32_t c) {
    switch (c) {
        case 0x09: case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x20:
        case 0x85: case 0xA0: case 0x1680: case 0x2028: case 0x2029:
        case 0x202F: case 0x205F: case 0x3000:
            return true;
        default:
            return c >= 0x2000 && c <= 0x200A;
    }
}

std::string_view trim_white_space(std::string_view s) {
    size_t begin = 0;
    while (begin < s.size()) {
        size_t next = begin;
        if (!is_white_space(next_code_point(s, next))) break;
        begin = next;
    }
    size_t end = begin;
    for (size_t pos = begin; pos < s.size();) {
        if (!is_white_space(next_code_point(s, pos))) end = pos;
    }
    return s.substr(begin, end - begin);
}

std::string ascii_lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::string utc_timestamp(std::chrono::system_clock::time_point when) {
    using namespace std::chrono;
    const auto second = floor<seconds>(when);
    const auto day = floor<days>(second);
    const year_month_day date{day};
    const hh_mm_ss time{second - day};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    return text;
}

}  // namespace korba
