// The browsers' exemption from their local-network prompt for the application's own pages:
// Chrome, Edge and Firefox read administrators' lists from the registry (values "1", "2", ... of
// type REG_SZ under one key per policy, read on "1", "2", ... up to the first number missing).
// The lists are read with the registry functions and changed only through reg; the values this
// program adds are remembered, so that it only ever takes away its own.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "common/result.h"
#include "windows/registry.h"

namespace korba {

// Where each value added is remembered: named "{policy key}\{value name}", holding the entry.
inline constexpr const char* ADDED_POLICY_VALUES_KEY = "SOFTWARE\\KORBA";

// The production origin, its subdomains and the hosting project's subdomains, from the build's
// origin settings (loopback and development origins need no exemption), as URL patterns...
std::vector<std::string> app_origin_patterns();
// ...and as host names without scheme.
std::vector<std::string> app_host_names();

// One browser's list under HKEY_LOCAL_MACHINE and the entries of ours it takes.
struct PolicyList {
    const char* key;
    std::vector<std::string> (*entries)();
};
// Chrome and Edge: the loopback-only policy, never the broader local-network one, which would
// also open the shop's network to those pages. Firefox: the domains its local-network checks skip.
inline const PolicyList POLICY_LISTS[] = {
    {"SOFTWARE\\Policies\\Google\\Chrome\\LoopbackNetworkAllowedForUrls", app_origin_patterns},
    {"SOFTWARE\\Policies\\Microsoft\\Edge\\LoopbackNetworkAllowedForUrls", app_origin_patterns},
    {"SOFTWARE\\Policies\\Mozilla\\Firefox\\LocalNetworkAccess\\SkipDomains", app_host_names},
};
// What to add to a list holding `existing`: each pattern not already there, under the lowest
// free numbers.
std::vector<RegistryValue> values_to_add(const std::vector<RegistryValue>& existing,
                                         const std::vector<std::string>& patterns);
// The renames, {from, to}, in order, that make the numbered values of a list 1..n again after
// gaps, each keeping its place in the order.
std::vector<std::pair<std::string, std::string>> renumbering(const std::vector<RegistryValue>& values);

// Both change each browser's list and report the first failure; the install does not depend on them.
// A list that cannot be read (other than missing) is left alone.
Status allow_app_origins();
// Removes the remembered values that still hold our patterns, closes the gaps, and removes a list
// left empty.
Status remove_app_origins();

}  // namespace korba
