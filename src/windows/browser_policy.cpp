#include "windows/browser_policy.h"

#include <algorithm>
#include <map>
#include <set>

#include "common/constants.h"
#include "windows/command_runner.h"

namespace korba {

namespace {

bool holds(const std::vector<RegistryValue>& values, const std::string& data) {
    return std::any_of(values.begin(), values.end(), [&](const RegistryValue& v) { return v.data == data; });
}

bool holds(const std::vector<RegistryValue>& values, const RegistryValue& value) {
    return std::find(values.begin(), values.end(), value) != values.end();
}

// "1", "2", ... as the browsers read them: no sign, no leading zero.
int list_number(const std::string& name) {
    if (name.empty() || name.size() > 6 || name[0] == '0') return 0;
    for (char c : name)
        if (c < '0' || c > '9') return 0;
    return std::stoi(name);
}

std::string hklm(const std::string& key) { return "HKLM\\" + key; }

Status add_value(const std::string& key, const std::string& name, const std::string& data) {
    return run_reg({{"add"}, {hklm(key)}, {"/v"}, {name}, {"/t"}, {"REG_SZ"}, {"/d"}, {data}, {"/f"}});
}

Status delete_value(const std::string& key, const std::string& name) {
    return run_reg({{"delete"}, {hklm(key)}, {"/v"}, {name}, {"/f"}});
}

std::string memory_name(const std::string& key, const std::string& name) { return key + "\\" + name; }

// The list is read again before each value, so the number is free at the moment it is written.
Status allow_in(const PolicyList& list) {
    const std::string key = list.key;
    for (const std::string& pattern : list.entries()) {
        const Result<std::vector<RegistryValue>> values = registry().list_values(key);
        if (!values) return fail(values.error());
        for (const RegistryValue& value : values_to_add(values.value(), {pattern})) {
            if (Status added = add_value(key, value.name, value.data); !added) return added;
            if (Status kept = add_value(ADDED_POLICY_VALUES_KEY, memory_name(key, value.name), value.data); !kept)
                return kept;
        }
    }
    return success();
}

// Deletes the values remembered for `key` that still hold what we wrote, and forgets them all;
// whether anything was deleted.
Result<bool> delete_ours(const std::string& key, const std::vector<RegistryValue>& values,
                         const std::vector<RegistryValue>& memory) {
    bool deleted = false;
    const std::string prefix = key + "\\";
    for (const RegistryValue& remembered : memory) {
        if (!remembered.name.starts_with(prefix)) continue;
        const RegistryValue ours{remembered.name.substr(prefix.size()), remembered.data};
        if (holds(values, ours)) {
            if (Status gone = delete_value(key, ours.name); !gone) return fail(gone.error());
            deleted = true;
        }
        if (Status forgotten = delete_value(ADDED_POLICY_VALUES_KEY, remembered.name); !forgotten)
            return fail(forgotten.error());
    }
    return deleted;
}

Status close_gaps(const std::string& key) {
    const Result<std::vector<RegistryValue>> left = registry().list_values(key);
    if (!left) return fail(left.error());
    if (left.value().empty()) return run_reg({{"delete"}, {hklm(key)}, {"/f"}});
    std::map<std::string, std::string> data;
    for (const RegistryValue& value : left.value()) data[value.name] = value.data;
    for (const auto& [from, to] : renumbering(left.value())) {
        if (Status added = add_value(key, to, data[from]); !added) return added;
        if (Status gone = delete_value(key, from); !gone) return gone;
    }
    return success();
}

Status remove_from(const PolicyList& list) {
    const std::string key = list.key;
    const Result<std::vector<RegistryValue>> values = registry().list_values(key);
    if (!values) return fail(values.error());
    const Result<std::vector<RegistryValue>> memory = registry().list_values(ADDED_POLICY_VALUES_KEY);
    if (!memory) return fail(memory.error());
    const Result<bool> deleted = delete_ours(key, values.value(), memory.value());
    if (!deleted) return fail(deleted.error());
    return deleted.value() ? close_gaps(key) : success();
}

Status for_each_browser(Status (*change)(const PolicyList&)) {
    Status outcome = success();
    for (const PolicyList& list : POLICY_LISTS)
        if (Status changed = change(list); !changed && outcome) outcome = changed;
    return outcome;
}

}  // namespace

std::vector<std::string> app_origin_patterns() {
    return {std::string("https://") + APP_DOMAIN, std::string("[*.]") + APP_DOMAIN,
            std::string("[*.]") + HOSTING_PROJECT + "." + HOSTING_DOMAIN};
}

std::vector<std::string> app_host_names() {
    return {APP_DOMAIN, std::string("*.") + APP_DOMAIN, std::string("*.") + HOSTING_PROJECT + "." + HOSTING_DOMAIN};
}

std::vector<RegistryValue> values_to_add(const std::vector<RegistryValue>& existing,
                                         const std::vector<std::string>& patterns) {
    std::set<std::string> taken;
    for (const RegistryValue& value : existing) taken.insert(value.name);
    std::vector<RegistryValue> added;
    int number = 1;
    for (const std::string& pattern : patterns) {
        if (holds(existing, pattern) || holds(added, pattern)) continue;
        while (taken.contains(std::to_string(number))) ++number;
        taken.insert(std::to_string(number));
        added.push_back({std::to_string(number), pattern});
    }
    return added;
}

std::vector<std::pair<std::string, std::string>> renumbering(const std::vector<RegistryValue>& values) {
    std::map<int, std::string> numbered;
    for (const RegistryValue& value : values)
        if (const int number = list_number(value.name)) numbered[number] = value.name;
    std::vector<std::pair<std::string, std::string>> renames;
    int next = 1;
    for (const auto& [number, name] : numbered) {
        if (number != next) renames.push_back({name, std::to_string(next)});
        ++next;
    }
    return renames;
}

Status allow_app_origins() { return for_each_browser(allow_in); }

Status remove_app_origins() {
    // Nothing remembered: nothing of ours in any list.
    const Result<std::vector<RegistryValue>> memory = registry().list_values(ADDED_POLICY_VALUES_KEY);
    if (!memory) return fail(memory.error());
    if (memory.value().empty()) return success();
    const Status removed = for_each_browser(remove_from);
    const Result<std::vector<RegistryValue>> left = registry().list_values(ADDED_POLICY_VALUES_KEY);
    if (left && left.value().empty()) (void)run_reg({{"delete"}, {hklm(ADDED_POLICY_VALUES_KEY)}, {"/f"}});
    return removed;
}

}  // namespace korba
