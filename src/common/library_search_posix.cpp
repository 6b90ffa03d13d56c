#include "common/library_search.h"

namespace korba {

// The dynamic linker's search is the system's configuration, not the program's folder.
void restrict_library_search() {}

}  // namespace korba
