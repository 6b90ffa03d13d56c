// The browsers' exemption from their local-network prompt for the application's own pages:
// Chrome and Edge read administrators' lists of URL patterns from the registry (values "1", "2",
// ... of type REG_SZ under one key per policy), changed here only through reg.
#pragma once

#include <string>
#include <vector>

#include "common/result.h"

namespace korba {

// The loopback-only policy of each browser: never the broader local-network one, which would
// also open the shop's network to those pages.
inline constexpr const char* LOOPBACK_POLICY_KEYS[] = {
    "HKLM\\SOFTWARE\\Policies\\Google\\Chrome\\LoopbackNetworkAllowedForUrls",
    "HKLM\\SOFTWARE\\Policies\\Microsoft\\Edge\\LoopbackNetworkAllowedForUrls",
};

struct PolicyValue {
    std::string name;
    std::string data;
    bool operator==(const PolicyValue&) const = default;
};

// The production origin, its subdomains and the hosting project's subdomains, from the build's
// origin settings (loopback and development origins need no exemption).
std::vector<std::string> app_origin_patterns();
// The values of a `reg query KEY` listing, in its order.
std::vector<PolicyValue> parse_reg_values(const std::string& listing);
// What to add to a list holding `existing`: each pattern not already there, under the lowest
// free numbers (the browsers read "1", "2", ... and stop at the first missing one).
std::vector<PolicyValue> values_to_add(const std::vector<PolicyValue>& existing,
                                       const std::vector<std::string>& patterns);

// Both run reg for each browser and report the first failure; the install does not depend on them.
Status allow_app_origins();
// Removes the values holding our patterns, and the list itself when nothing else is left in it.
Status remove_app_origins();

}  // namespace korba
