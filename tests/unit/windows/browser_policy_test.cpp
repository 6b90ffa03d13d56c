#include "windows/browser_policy.h"

#include <gtest/gtest.h>

#include "common/constants.h"

namespace korba {
namespace {

const std::string APP = APP_DOMAIN;
const std::string HOSTING = std::string(HOSTING_PROJECT) + "." + HOSTING_DOMAIN;

TEST(BrowserPolicy, PatternsAreTheApplicationsOwnOrigins) {
    EXPECT_EQ(app_origin_patterns(), (std::vector<std::string>{"https://" + APP, "[*.]" + APP, "[*.]" + HOSTING}));
}

TEST(BrowserPolicy, RegQueryListingIsReadValueByValue) {
    const std::string listing =
        "\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Policies\\Google\\Chrome\\LoopbackNetworkAllowedForUrls\r\n"
        "    1    REG_SZ    https://admin.example\r\n"
        "    3    REG_SZ    [*.]con espacios\r\n"
        "    vacio    REG_SZ    \r\n\r\n";
    EXPECT_EQ(parse_reg_values(listing), (std::vector<PolicyValue>{
                                             {"1", "https://admin.example"}, {"3", "[*.]con espacios"}, {"vacio", ""}}));
    EXPECT_EQ(parse_reg_values(""), std::vector<PolicyValue>{});
}

TEST(BrowserPolicy, OursTakeTheLowestFreeNumbersAndNothingTwice) {
    const std::vector<std::string> ours = app_origin_patterns();
    const struct {
        const char* name;
        std::vector<PolicyValue> existing;
        std::vector<PolicyValue> added;
    } cases[] = {
        {"no list yet", {}, {{"1", ours[0]}, {"2", ours[1]}, {"3", ours[2]}}},
        {"an administrator's value first", {{"1", "https://admin.example"}}, {{"2", ours[0]}, {"3", ours[1]}, {"4", ours[2]}}},
        {"a gap is filled", {{"1", "a"}, {"3", "b"}}, {{"2", ours[0]}, {"4", ours[1]}, {"5", ours[2]}}},
        {"one of ours already there", {{"2", ours[1]}}, {{"1", ours[0]}, {"3", ours[2]}}},
        {"all there", {{"7", ours[2]}, {"8", ours[0]}, {"9", ours[1]}}, {}},
        {"names are taken literally", {{"01", "a"}, {"x", "b"}}, {{"1", ours[0]}, {"2", ours[1]}, {"3", ours[2]}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(values_to_add(c.existing, ours), c.added);
    }
}

}  // namespace
}  // namespace korba
