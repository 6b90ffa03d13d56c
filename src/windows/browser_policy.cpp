#include "windows/browser_policy.h"

#include <algorithm>
#include <set>

#include "common/constants.h"
#include "windows/command_runner.h"

namespace korba {

namespace {

const std::string COLUMN = "    ";

bool holds(const std::vector<PolicyValue>& values, const std::string& data) {
    return std::any_of(values.begin(), values.end(), [&](const PolicyValue& v) { return v.data == data; });
}

// A missing list reads as an empty one.
std::vector<PolicyValue> current_values(const std::string& key) {
    const Result<CommandOutput> query = run_command("reg", {{"query"}, {key}});
    if (!query || query.value().exit_code != 0) return {};
    return parse_reg_values(decode_output(query.value().stdout_bytes));
}

Status allow_in(const std::string& key) {
    for (const PolicyValue& value : values_to_add(current_values(key), app_origin_patterns()))
        if (Status added = run_reg({{"add"}, {key}, {"/v"}, {value.name}, {"/t"}, {"REG_SZ"}, {"/d"}, {value.data}, {"/f"}});
            !added)
            return added;
    return success();
}

Status remove_from(const std::string& key) {
    const std::vector<std::string> ours = app_origin_patterns();
    const std::vector<PolicyValue> values = current_values(key);
    bool others_left = false;
    for (const PolicyValue& value : values) {
        if (std::find(ours.begin(), ours.end(), value.data) == ours.end()) {
            others_left = true;
            continue;
        }
        if (Status deleted = run_reg({{"delete"}, {key}, {"/v"}, {value.name}, {"/f"}}); !deleted) return deleted;
    }
    if (values.empty() || others_left) return success();
    return run_reg({{"delete"}, {key}, {"/f"}});
}

Status for_each_browser(Status (*change)(const std::string&)) {
    Status outcome = success();
    for (const char* key : LOOPBACK_POLICY_KEYS)
        if (Status changed = change(key); !changed && outcome) outcome = changed;
    return outcome;
}

}  // namespace

std::vector<std::string> app_origin_patterns() {
    return {std::string("https://") + APP_DOMAIN, std::string("[*.]") + APP_DOMAIN,
            std::string("[*.]") + HOSTING_PROJECT + "." + HOSTING_DOMAIN};
}

std::vector<PolicyValue> parse_reg_values(const std::string& listing) {
    std::vector<PolicyValue> values;
    for (size_t start = 0; start < listing.size();) {
        size_t end = listing.find('\n', start);
        if (end == std::string::npos) end = listing.size();
        std::string line = listing.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        // "    NAME    REG_SZ    DATA"; the key's own line has no indent.
        if (!line.starts_with(COLUMN)) continue;
        const size_t type = line.find(COLUMN + "REG_", COLUMN.size());
        if (type == std::string::npos) continue;
        const size_t data = line.find(COLUMN, type + COLUMN.size());
        values.push_back({line.substr(COLUMN.size(), type - COLUMN.size()),
                          data == std::string::npos ? std::string() : line.substr(data + COLUMN.size())});
    }
    return values;
}

std::vector<PolicyValue> values_to_add(const std::vector<PolicyValue>& existing,
                                       const std::vector<std::string>& patterns) {
    std::set<std::string> taken;
    for (const PolicyValue& value : existing) taken.insert(value.name);
    std::vector<PolicyValue> added;
    int number = 1;
    for (const std::string& pattern : patterns) {
        if (holds(existing, pattern) || holds(added, pattern)) continue;
        while (taken.contains(std::to_string(number))) ++number;
        taken.insert(std::to_string(number));
        added.push_back({std::to_string(number), pattern});
    }
    return added;
}

Status allow_app_origins() { return for_each_browser(allow_in); }

Status remove_app_origins() { return for_each_browser(remove_from); }

}  // namespace korba
