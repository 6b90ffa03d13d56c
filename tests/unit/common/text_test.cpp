#include <gtest/gtest.h>

#include "common/text.h"

namespace korba {
namespace {

TEST(Text, WideRoundTripKeepsAccentsAndAstralCharacters) {
    const std::string text = "Impresora Caña \xF0\x9F\x96\xA8";  // U+1F5A8 needs a surrogate pair
    const std::u16string wide = to_wide(text);
    EXPECT_EQ(wide.size(), 15u + 2u);
    EXPECT_EQ(wide[15], 0xD83D);
    EXPECT_EQ(wide[16], 0xDDA8);
    EXPECT_EQ(wide.c_str()[wide.size()], u'\0');
    EXPECT_EQ(from_wide(wide), text);
}

TEST(Text, UnpairedSurrogatesBecomeReplacementCharacters) {
    EXPECT_EQ(from_wide(u"a\xD800" u"b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(from_wide(u"\xDC00"), "\xEF\xBF\xBD");
    const char16_t high_at_end[] = {u'x', 0xD83D};
    EXPECT_EQ(from_wide(std::u16string_view(high_at_end, 2)), "x\xEF\xBF\xBD");
    const char16_t reversed[] = {0xDDA8, 0xD83D};
    EXPECT_EQ(from_wide(std::u16string_view(reversed, 2)), "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Text, InvalidUtf8BecomesOneReplacementPerMaximalSubpart) {
    EXPECT_EQ(to_valid_utf8("a\xFF" "b"), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(to_valid_utf8("\xE2\x82"), "\xEF\xBF\xBD");             // truncated three-byte sequence
    EXPECT_EQ(to_valid_utf8("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // encoded surrogate
    EXPECT_EQ(to_valid_utf8("\xC0\xAF"), "\xEF\xBF\xBD\xEF\xBF\xBD");  // overlong
    EXPECT_TRUE(is_valid_utf8("año \xEF\xBF\xBD"));
    EXPECT_FALSE(is_valid_utf8("a\x80"));
    EXPECT_EQ(to_wide("\xFF"), u"\xFFFD");
}

TEST(Text, TrimsUnicodeWhiteSpaceOnly) {
    EXPECT_EQ(trim_white_space(" \t\r\n\v\f x y \xC2\xA0\xE3\x80\x80"), "x y");  // NBSP, ideographic space
    EXPECT_EQ(trim_white_space("\xC2\x85" "a\xE2\x80\xA8"), "a");                 // NEL, line separator
    EXPECT_EQ(trim_white_space("\xE2\x80\x8B" "a"), "\xE2\x80\x8B" "a");          // zero-width space is not white space
    EXPECT_EQ(trim_white_space("   "), "");
}

TEST(Text, UtcTimestampToTheSecond) {
    using namespace std::chrono;
    EXPECT_EQ(utc_timestamp(sys_days{2026y / 12 / 9} + 13h + 5min + 1s + 999ms), "2026-12-09T13:05:01Z");
    EXPECT_EQ(utc_timestamp(sys_days{2028y / 2 / 29} + 23h + 59min + 59s), "2028-02-29T23:59:59Z");
    EXPECT_EQ(utc_timestamp(system_clock::time_point{}), "1970-01-01T00:00:00Z");
}

}  // namespace
}  // namespace korba
