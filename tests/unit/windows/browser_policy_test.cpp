#include "windows/browser_policy.h"

#include <gtest/gtest.h>

#include "common/constants.h"
#include "fakes/fake_machine.h"

namespace korba {
namespace {

const std::string APP = APP_DOMAIN;
const std::string HOSTING = std::string(HOSTING_PROJECT) + "." + HOSTING_DOMAIN;
const std::string CHROME = POLICY_LISTS[0].key;
const std::string EDGE = POLICY_LISTS[1].key;
const std::string FIREFOX = POLICY_LISTS[2].key;
using Values = std::map<std::string, std::string>;

TEST(BrowserPolicy, PatternsAreTheApplicationsOwnOrigins) {
    EXPECT_EQ(app_origin_patterns(), (std::vector<std::string>{"https://" + APP, "[*.]" + APP, "[*.]" + HOSTING}));
    EXPECT_EQ(app_host_names(), (std::vector<std::string>{APP, "*." + APP, "*." + HOSTING}));
    EXPECT_EQ(FIREFOX, "SOFTWARE\\Policies\\Mozilla\\Firefox\\LocalNetworkAccess\\SkipDomains");
}

TEST(BrowserPolicy, GapsAreClosedInOrderAndOnlyNumberedValuesMove) {
    using Renames = std::vector<std::pair<std::string, std::string>>;
    const struct {
        const char* name;
        std::vector<RegistryValue> values;
        Renames renames;
    } cases[] = {
        {"no gap", {{"1", "a"}, {"2", "b"}}, {}},
        {"one gap", {{"1", "a"}, {"3", "b"}, {"4", "c"}}, {{"3", "2"}, {"4", "3"}}},
        {"the first gone", {{"2", "a"}}, {{"2", "1"}}},
        {"in number order, not in listing order", {{"10", "j"}, {"9", "i"}, {"1", "a"}}, {{"9", "2"}, {"10", "3"}}},
        {"other names stay", {{"01", "x"}, {"x", "y"}, {"3", "c"}}, {{"3", "1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(renumbering(c.values), c.renames);
    }
}

TEST(BrowserPolicy, OursTakeTheLowestFreeNumbersAndNothingTwice) {
    const std::vector<std::string> ours = app_origin_patterns();
    const struct {
        const char* name;
        std::vector<RegistryValue> existing;
        std::vector<RegistryValue> added;
    } cases[] = {
        {"no list yet", {}, {{"1", ours[0]}, {"2", ours[1]}, {"3", ours[2]}}},
        {"an administrator's value first",
         {{"1", "https://admin.example"}},
         {{"2", ours[0]}, {"3", ours[1]}, {"4", ours[2]}}},
        {"a gap is filled", {{"1", "a"}, {"3", "b"}}, {{"2", ours[0]}, {"4", ours[1]}, {"5", ours[2]}}},
        {"one of ours already there", {{"2", ours[1]}}, {{"1", ours[0]}, {"3", ours[2]}}},
        {"all there", {{"7", ours[2]}, {"8", ours[0]}, {"9", ours[1]}}, {}},
        {"names are taken literally", {{"01", "a"}, {"x", "b"}}, {{"1", ours[0]}, {"2", ours[1]}, {"3", ours[2]}}},
        {"a value of another type keeps its number", {{"1", ""}}, {{"2", ours[0]}, {"3", ours[1]}, {"4", ours[2]}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(values_to_add(c.existing, ours), c.added);
    }
}

TEST(BrowserPolicy, AnAdministratorsEntriesAreNeverChangedNorTakenAway) {
    const std::vector<std::string> ours = app_origin_patterns();
    FakeMachine machine;
    Values& chrome = machine.registry["HKLM\\" + CHROME];
    chrome = {{"1", "https://admin.example"}, {"2", ours[1]}};  // the administrator's own copy of a pattern of ours
    const std::vector<std::string> hosts = app_host_names();
    Values& firefox = machine.registry["HKLM\\" + FIREFOX];
    firefox = {{"1", "intranet.example"}};
    ASSERT_TRUE(allow_app_origins());
    EXPECT_EQ(chrome, (Values{{"1", "https://admin.example"}, {"2", ours[1]}, {"3", ours[0]}, {"4", ours[2]}}));
    EXPECT_EQ(firefox, (Values{{"1", "intranet.example"}, {"2", hosts[0]}, {"3", hosts[1]}, {"4", hosts[2]}}));
    EXPECT_EQ(machine.registry["HKLM\\SOFTWARE\\KORBA"], (Values{{CHROME + "\\3", ours[0]},
                                                                 {CHROME + "\\4", ours[2]},
                                                                 {EDGE + "\\1", ours[0]},
                                                                 {EDGE + "\\2", ours[1]},
                                                                 {EDGE + "\\3", ours[2]},
                                                                 {FIREFOX + "\\2", hosts[0]},
                                                                 {FIREFOX + "\\3", hosts[1]},
                                                                 {FIREFOX + "\\4", hosts[2]}}));
    ASSERT_TRUE(allow_app_origins());
    EXPECT_EQ(chrome.size(), 4u) << "nothing twice";

    // Meanwhile the administrator adds an entry after ours and reuses one of our numbers.
    chrome["5"] = "https://later.example";
    machine.registry["HKLM\\" + EDGE]["2"] = "https://edge-admin.example";
    ASSERT_TRUE(remove_app_origins());
    EXPECT_EQ(chrome, (Values{{"1", "https://admin.example"}, {"2", ours[1]}, {"3", "https://later.example"}}));
    EXPECT_EQ(machine.registry["HKLM\\" + EDGE], (Values{{"1", "https://edge-admin.example"}}));
    EXPECT_EQ(firefox, (Values{{"1", "intranet.example"}}));
    EXPECT_FALSE(machine.registry.contains("HKLM\\SOFTWARE\\KORBA")) << "nothing left to remember";

    const size_t before = machine.commands().size();
    ASSERT_TRUE(remove_app_origins());
    EXPECT_EQ(machine.commands().size(), before) << "a second uninstall finds nothing of ours";
}

TEST(BrowserPolicy, AListThatCannotBeReadIsLeftAlone) {
    FakeMachine machine;
    machine.registry["HKLM\\" + CHROME] = {{"1", "https://admin.example"}};
    machine.unreadable_keys[CHROME] = "Acceso denegado. (os error 5)";
    const Status allowed = allow_app_origins();
    ASSERT_FALSE(allowed);
    EXPECT_EQ(allowed.error(), "Acceso denegado. (os error 5)");
    EXPECT_EQ(machine.registry["HKLM\\" + CHROME], (Values{{"1", "https://admin.example"}}));
    EXPECT_EQ(machine.registry["HKLM\\" + EDGE].size(), 3u) << "the other browser still gets its entries";

    machine.unreadable_keys = {{EDGE, "Acceso denegado. (os error 5)"}};
    ASSERT_FALSE(remove_app_origins());
    EXPECT_EQ(machine.registry["HKLM\\" + EDGE].size(), 3u);
    EXPECT_EQ(machine.registry["HKLM\\SOFTWARE\\KORBA"].size(), 3u) << "still remembered for the next uninstall";
}

}  // namespace
}  // namespace korba
