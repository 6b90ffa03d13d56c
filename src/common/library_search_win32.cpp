#include <windows.h>

#include "common/library_search.h"

namespace korba {

void restrict_library_search() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

}  // namespace korba
