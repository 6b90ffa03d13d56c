// The control panel page, carried in the program byte for byte (src/panel/panel.html).
#pragma once

#include <string_view>

namespace korba {

std::string_view panel_html();

}  // namespace korba
