// Console output: Unicode to a console window, UTF-8 bytes when redirected.
#pragma once

#include <string_view>

namespace korba {

void print_out(std::string_view utf8_line);  // adds the line break
void print_err(std::string_view utf8_line);

// Low-level write of already formatted text; implemented per platform.
void write_stdout(std::string_view utf8);
void write_stderr(std::string_view utf8);

}  // namespace korba
