// Whether an existing installation folder may be kept: judged from what the file system reports
// of it, so that a folder a user made or redirected is never trusted with the service's program.
#pragma once

#include <string>
#include <string_view>

namespace korba {

struct FolderFacts {
    bool exists = false;
    bool folder = false;
    bool reparse_point = false;  // a junction, a symbolic link or another redirection
    std::string security;        // owner and access list as SDDL text; empty when unreadable
};

// A real folder owned by Administrators, SYSTEM or TrustedInstaller whose access list inherits
// nothing and lets nobody but SYSTEM and Administrators write, delete or change its rules.
bool trusted_folder(const FolderFacts& facts);

// The access mask of an SDDL rights field ("FA", "0x1200a9", "GRGX", ...); a part it does not
// know counts as every right.
unsigned sddl_rights(std::string_view field);

}  // namespace korba
