#include "common/console.h"

#include <string>

namespace korba {

void print_out(std::string_view line) { write_stdout(std::string(line) + "\n"); }
void print_err(std::string_view line) { write_stderr(std::string(line) + "\n"); }

}  // namespace korba
