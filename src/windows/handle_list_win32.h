// For the Win32 files that start children: the creation attribute that limits what a child
// inherits to the handles named in it (which must be inheritable themselves).
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

namespace korba {

// `list` stays null when the system refuses it; the handles are kept here, where the attribute points.
struct HandleList {
    std::vector<HANDLE> handles;
    std::vector<char> storage;
    LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;
    explicit HandleList(std::vector<HANDLE> inherited) : handles(std::move(inherited)) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        storage.resize(size);
        auto* candidate = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
        if (!InitializeProcThreadAttributeList(candidate, 1, 0, &size)) return;
        list = candidate;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles.data(),
                                       handles.size() * sizeof(HANDLE), nullptr, nullptr))
            reset();
    }
    ~HandleList() { reset(); }
    void reset() {
        if (list) DeleteProcThreadAttributeList(list);
        list = nullptr;
    }
};

}  // namespace korba
