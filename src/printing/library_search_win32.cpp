#include <windows.h>

#include "printing/library_search.h"

namespace korba {

void restrict_library_search() { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

}  // namespace korba
