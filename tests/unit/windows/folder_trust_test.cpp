#include "windows/folder_trust.h"

#include <gtest/gtest.h>

namespace korba {
namespace {

TEST(FolderTrust, OnlyAnAdministratorsFolderThatNobodyElseMayChangeIsKept) {
    const std::string rules = "(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";
    const struct {
        const char* name;
        std::string security;
        bool trusted;
    } cases[] = {
        {"as this program makes it", "O:BAD:PAI" + rules, true},
        {"owner SYSTEM, numeric names", "O:S-1-5-18D:P(A;OICI;FA;;;S-1-5-32-544)(A;;FA;;;S-1-5-18)", true},
        {"owner TrustedInstaller, with a group",
         "O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464G:SYD:P" + rules, true},
        {"an empty protected list", "O:BAD:P", true},
        {"a user may only deny", "O:BAD:P(D;OICI;FA;;;WD)" + rules, true},
        {"owned by the user who made it", "O:S-1-5-21-1-2-3-1001D:P" + rules, false},
        {"owned by Users", "O:BUD:P" + rules, false},
        {"inheriting from C:", "O:BAD:AI" + rules, false},
        {"one rule inherited", "O:BAD:P(A;OICIID;FA;;;SY)(A;OICI;FA;;;BA)", false},
        {"Authenticated Users modify", "O:BAD:P(A;OICI;0x1301bf;;;AU)" + rules, false},
        {"Users may change the rules", "O:BAD:P(A;;WD;;;BU)", false},
        {"Users may delete", "O:BAD:P(A;;SD;;;BU)", false},
        {"Everyone generic write", "O:BAD:P(A;;GW;;;WD)", false},
        {"creator owner full control", "O:BAD:P(A;OICIIO;GA;;;CO)" + rules, false},
        {"a right we do not know", "O:BAD:P(A;;ZZ;;;BU)", false},
        {"an unreadable mask", "O:BAD:P(A;;0xZZ;;;BU)", false},
        {"no access list at all (everyone may do anything)", "O:BAD:NO_ACCESS_CONTROL", false},
        {"no access list, marked protected", "O:BAD:PNO_ACCESS_CONTROL", false},
        {"no access list, with the inheritance flags", "O:BAD:PAINO_ACCESS_CONTROL", false},
        {"a flag we do not know", "O:BAD:PX" + rules, false},
        {"no list given", "O:BA", false},
        {"unreadable", "", false},
        {"a broken rule", "O:BAD:P(A;OICI;FA)", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(trusted_folder({true, true, false, c.security}), c.trusted);
    }
    const std::string good = "O:BAD:PAI" + rules;
    EXPECT_FALSE(trusted_folder({true, true, true, good})) << "a junction";
    EXPECT_FALSE(trusted_folder({true, false, false, good})) << "a file";
    EXPECT_FALSE(trusted_folder({false, false, false, good})) << "missing";
}

TEST(FolderTrust, RightsFieldsAreReadAsMasks) {
    EXPECT_EQ(sddl_rights("FA"), 0x1F01FFu);
    EXPECT_EQ(sddl_rights("0x1200a9"), 0x1200A9u);
    EXPECT_EQ(sddl_rights("GRGX"), 0xA0000000u);
    EXPECT_EQ(sddl_rights("FRX"), ~0u);
    EXPECT_EQ(sddl_rights(""), ~0u);
}

}  // namespace
}  // namespace korba
