// Opening an address in the user's default browser, without waiting for it.
#pragma once

#include <string>

namespace korba {

// Silent on failure: a missing browser must not stop the bridge.
void open_in_browser(const std::string& url);

}  // namespace korba
