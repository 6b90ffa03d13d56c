#include "windows/folder_trust.h"

#include <cstdlib>
#include <vector>

namespace korba {

namespace {

// Adding, deleting or renaming what is inside, its attributes, and the folder's own rules or owner.
constexpr unsigned WRITE_RIGHTS =
    0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;
constexpr unsigned EVERY_RIGHT = ~0u;

const char* const ADMINISTRATORS[] = {"BA", "S-1-5-32-544"};
const char* const SYSTEM[] = {"SY", "S-1-5-18"};
const char* const TRUSTED_INSTALLER = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

struct Code {
    const char* letters;
    unsigned mask;
};
const Code RIGHT_CODES[] = {
    {"GA", 0x10000000}, {"GR", 0x80000000}, {"GW", 0x40000000}, {"GX", 0x20000000}, {"RC", 0x20000}, {"SD", 0x10000},
    {"WD", 0x40000},    {"WO", 0x80000},    {"RP", 0x10},       {"WP", 0x20},       {"CC", 0x1},     {"DC", 0x2},
    {"LC", 0x4},        {"SW", 0x8},        {"LO", 0x80},       {"DT", 0x40},       {"CR", 0x100},   {"FA", 0x1F01FF},
    {"FR", 0x120089},   {"FW", 0x120116},   {"FX", 0x1200A0},
};

template <size_t N>
bool is_one_of(std::string_view sid, const char* const (&names)[N]) {
    for (const char* name : names)
        if (sid == name) return true;
    return false;
}

bool may_write(std::string_view sid) { return is_one_of(sid, ADMINISTRATORS) || is_one_of(sid, SYSTEM); }

bool trusted_owner(std::string_view sid) { return may_write(sid) || sid == TRUSTED_INSTALLER; }

std::vector<std::string_view> split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    for (size_t start = 0;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start));
        if (end == std::string_view::npos) return parts;
        start = end + 1;
    }
}

bool holds_flag(std::string_view flags, std::string_view flag) {
    for (size_t i = 0; i + 1 < flags.size(); i += 2)
        if (flags.substr(i, 2) == flag) return true;
    return false;
}

// One "(type;flags;rights;object;inherited object;sid)": inherited, or write for someone else, spoils the list.
bool ace_is_safe(std::string_view ace) {
    const std::vector<std::string_view> fields = split(ace, ';');
    if (fields.size() < 6) return false;
    if (holds_flag(fields[1], "ID")) return false;
    const bool denies = fields[0] == "D" || fields[0] == "OD" || fields[0] == "XD";
    return denies || may_write(fields[5]) || (sddl_rights(fields[2]) & WRITE_RIGHTS) == 0;
}

// The list's flags: protected ("P") and nothing but the inheritance flags besides. A NULL list
// ("NO_ACCESS_CONTROL", whatever flags come with it) lets everyone do everything.
bool flags_are_protected(std::string_view flags) {
    bool is_protected = false;
    while (!flags.empty()) {
        if (flags.starts_with("P")) {
            is_protected = true;
            flags.remove_prefix(1);
        } else if (flags.starts_with("AI") || flags.starts_with("AR")) {
            flags.remove_prefix(2);
        } else {
            return false;
        }
    }
    return is_protected;
}

// "D:{flags}(ace)(ace)...", up to the system list when there is one.
bool dacl_is_protected(std::string_view dacl) {
    const size_t first = dacl.find('(');
    if (!flags_are_protected(dacl.substr(0, first))) return false;
    if (first == std::string_view::npos) return true;  // an empty list: nobody may do anything
    for (size_t open = first; open < dacl.size() && dacl[open] == '(';) {
        const size_t close = dacl.find(')', open);
        if (close == std::string_view::npos || !ace_is_safe(dacl.substr(open + 1, close - open - 1))) return false;
        open = close + 1;
    }
    return true;
}

}  // namespace

unsigned sddl_rights(std::string_view field) {
    if (field.starts_with("0x") || field.starts_with("0X")) {
        const std::string digits(field.substr(2));
        char* end = nullptr;
        const unsigned long mask = std::strtoul(digits.c_str(), &end, 16);
        return !digits.empty() && *end == '\0' ? static_cast<unsigned>(mask) : EVERY_RIGHT;
    }
    if (field.empty() || field.size() % 2 != 0) return EVERY_RIGHT;
    unsigned mask = 0;
    for (size_t i = 0; i < field.size(); i += 2) {
        unsigned part = EVERY_RIGHT;
        for (const Code& code : RIGHT_CODES)
            if (field.substr(i, 2) == code.letters) part = code.mask;
        mask |= part;
    }
    return mask;
}

bool trusted_folder(const FolderFacts& facts) {
    if (!facts.exists || !facts.folder || facts.reparse_point) return false;
    const std::string_view sddl = facts.security;
    if (!sddl.starts_with("O:")) return false;
    const size_t dacl = sddl.find("D:");
    if (dacl == std::string_view::npos) return false;
    const size_t group = sddl.find("G:");
    const size_t owner_end = group != std::string_view::npos && group < dacl ? group : dacl;
    if (!trusted_owner(sddl.substr(2, owner_end - 2))) return false;
    const size_t system_list = sddl.find("S:", dacl);
    return dacl_is_protected(
        sddl.substr(dacl + 2, system_list == std::string_view::npos ? system_list : system_list - dacl - 2));
}

}  // namespace korba
