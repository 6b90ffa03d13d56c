#include <cstdlib>

#include "common/memory.h"
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace korba {

void return_freed_memory_to_system() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // glibc's default, now fixed
    mallopt(M_ARENA_MAX, 2);
#endif
}

}  // namespace korba
