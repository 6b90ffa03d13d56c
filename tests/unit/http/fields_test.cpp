#include "http/fields.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace korba {
namespace {

using Text = std::optional<std::string>;
const Text ABSENT = std::nullopt;

// The readers write over their input: each case hands them a copy.
Text copied(std::optional<std::string_view> value) { return value ? Text(*value) : ABSENT; }
Text field(std::string json, std::string_view name) { return copied(json_field(json, name)); }
Text decoded(std::string text) { return copied(base64_decode(text)); }

TEST(Fields, JsonFieldIsATextSearchNotAParse) {
    const struct {
        const char* json;
        const char* name;
        Text value;
    } cases[] = {
        {R"({"pin":5})", "pin", "5"},
        {R"({"pin":"5"})", "pin", "5"},
        {R"({"pin" : 5 })", "pin", "5"},
        {"{\"pin\"\xC2\xA0:\xE2\x80\x83\t5}", "pin", "5"},  // Unicode white space around the colon
        {R"({"pin":true})", "pin", ABSENT},
        {R"({"pin":null})", "pin", ABSENT},
        {R"({"pin":[2]})", "pin", ABSENT},
        {R"({"pin":""})", "pin", ""},
        {R"({"pin":-12})", "pin", "-12"},
        {R"({"pin":1.5})", "pin", "1"},
        {R"({"pin":007})", "pin", "007"},
        {R"({"pin":5-})", "pin", "5-"},
        {R"({"note":"pin","pin":5})", "pin", ABSENT},  // only the first match is tried
        {R"({"x":{"pin":"2"}})", "pin", "2"},
        {R"({"pinx":1,"pin":2})", "pin", "2"},
        {R"({"Pin":1})", "pin", ABSENT},
        {R"({"pin")", "pin", ABSENT},
        {R"({"pin":  )", "pin", ABSENT},
        {R"({"data_b64":"QU\"JD"})", "data_b64", "QU\"JD"},
        {R"({"data_b64":"\Q\U\J\D"})", "data_b64", "QUJD"},
        {R"({"data_b64":"QUJD\n"})", "data_b64", "QUJDn"},  // escapes are not translated
        {R"({"data_b64":"\\\u00e9"})", "data_b64", "\\u00e9"},
        {R"({"data_b64":"QUJD)", "data_b64", ABSENT},
        {R"({"data_b64":"QUJD\"})", "data_b64", ABSENT},
        {R"({"data_b64":123})", "data_b64", "123"},
        {R"({"printer":"Caja Ñ"})", "printer", "Caja Ñ"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.json);
        EXPECT_EQ(field(test.json, test.name), test.value);
    }
}

TEST(Fields, QueryParamTakesTheFirstExactNameByteForByte) {
    const struct {
        const char* query;
        Text value;
    } cases[] = {
        {"enable=1&x=2", "1"}, {"x&enable=1", "1"},   {"x=1&&enable=2", "2"}, {"enable=1&enable=2", "1"},
        {"enable", ABSENT},    {"ENABLE=1", ABSENT},  {"", ABSENT},           {"enabled=1", ABSENT},
        {"enable=", ""},       {"enable=a=b", "a=b"}, {"enable=%31", "%31"},  {"enable=a+b", "a+b"},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.query);
        EXPECT_EQ(query_param(test.query, "enable"), test.value);
    }
}

TEST(Fields, Base64IsLenientAboutPaddingAndLineBreaksOnly) {
    const struct {
        std::string text;
        Text bytes;
    } cases[] = {
        {"QUJD", "ABC"},
        {"QUI=", "AB"},
        {"QUI", "AB"},
        {"QQ", "A"},
        {"Q", ""},
        {"", ""},
        {"QU JD", "ABC"},
        {"Q=U=J=D", "ABC"},
        {"QUJD\r\nQUJD\n", "ABCABC"},
        {"/+/+", "\xFF\xEF\xFE"},
        {"AAAA", std::string(3, '\0')},
        {"123", "\xD7m"},
        {"QUJD\t", ABSENT},
        {"QUJ-", ABSENT},
        {"QUJ_", ABSENT},
        {"QUJD.", ABSENT},
        {"QUJ\xC3\xA9", ABSENT},
        {std::string("QU\0D", 4), ABSENT},
    };
    for (const auto& test : cases) {
        SCOPED_TRACE(test.text);
        EXPECT_EQ(decoded(test.text), test.bytes);
    }
}

TEST(Fields, Base64EncodingIsPaddedAndDecodesBack) {
    const struct {
        std::string bytes;
        std::string text;
    } cases[] = {{"", ""}, {"A", "QQ=="}, {"AB", "QUI="}, {"ABC", "QUJD"}, {std::string("\xFF\xEF\xFE\0", 4), "/+/+AA=="}};
    for (const auto& test : cases) {
        std::string out = "x";
        append_base64(out, test.bytes);
        EXPECT_EQ(out, "x" + test.text);
    }
    std::string every_byte;
    for (int c = 0; c < 256; ++c) every_byte += static_cast<char>(c);
    std::string encoded;
    append_base64(encoded, every_byte);
    EXPECT_EQ(decoded(encoded), every_byte);
}

TEST(Fields, Base64WrappedAt76WithCrLfDecodesLikeTheUnwrappedText) {
    const std::string plain =
        "TICKET DE PRUEBA\nTICKET DE PRUEBA\nTICKET DE PRUEBA\n1 x Café con leche ........ 2,50 EUR\n"
        "Gracias por su visita\n";
    const std::string encoded =
        "VElDS0VUIERFIFBSVUVCQQpUSUNLRVQgREUgUFJVRUJBClRJQ0tFVCBERSBQUlVFQkEKMSB4IENhZsOpIGNvbiBsZWNoZSAuLi4uLi4uLiAy"
        "LDUwIEVVUgpHcmFjaWFzIHBvciBzdSB2aXNpdGEK";
    std::string wrapped;
    for (size_t at = 0; at < encoded.size(); at += 76) wrapped += encoded.substr(at, 76) + "\r\n";
    EXPECT_EQ(decoded(encoded), plain);
    EXPECT_EQ(decoded(wrapped), plain);
}

// What the field of the text with its invalid UTF-8 replaced would decode to.
TEST(Fields, Base64FieldReadsInvalidUtf8AsItsReplacement) {
    const struct {
        std::string json;
        Text bytes;
    } cases[] = {
        {"\xFF{\"data_b64\":\"QUJD\"}", "ABC"},
        {"{\"x\":\"\xE2\x82\",\"data_b64\" :\"Q\\UJD\"}", "ABC"},  // a sequence cut short by a quote
        {"{\"data_b64\"\xC2\xA0:\"QUJD\"}", "ABC"},
        {"{\"data_b64\"\xC2:\"QUJD\"}", ABSENT},  // a replacement is not white space
        {"{\"data_b64\":\"QU\xFFJD\"}", ABSENT},
        {"{\"data_b64\":\"QUJD\\\xC3\xA9\"}", ABSENT},
        {"{\"data_b64\":123}", "\xD7m"},
        {"{\"data_b64\":\"QUJD\\", ABSENT},
    };
    for (auto test : cases) {
        SCOPED_TRACE(test.json);
        EXPECT_EQ(copied(base64_field(test.json, "data_b64")), test.bytes);
    }
}

}  // namespace
}  // namespace korba
