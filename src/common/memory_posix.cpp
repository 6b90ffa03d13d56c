#include <cstdlib>

#include "common/memory.h"
#if defined(__GLIBC__)
#include <malloc.h>
#include <pthread.h>
#endif

namespace korba {

void tune_memory_for_serving() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // glibc's default, now fixed
    mallopt(M_ARENA_MAX, 2);
    // Ample for the deepest connection (a print through libcups); 80 of them fit glibc's cache.
    constexpr size_t THREAD_STACK_SIZE = 512 * 1024;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    if (pthread_attr_setstacksize(&attributes, THREAD_STACK_SIZE) == 0) pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
#endif
}

}  // namespace korba
