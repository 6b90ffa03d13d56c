#include <windows.h>

#include "common/library_search.h"

namespace korba {

// Looked up, not imported: a Windows 7 without the update that brought it must still start.
void restrict_library_search() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const auto set_default_dll_directories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (set_default_dll_directories) {
        set_default_dll_directories(LOAD_LIBRARY_SEARCH_SYSTEM32);
        return;
    }
    // Without it: at least not the current folder; the program names its own libraries by their full path.
    SetDllDirectoryW(L"");
}

}  // namespace korba
