#include <cstdlib>

#include "common/memory.h"
#if defined(__GLIBC__)
#include <link.h>
#include <malloc.h>
#include <pthread.h>
#include <unistd.h>
#endif

namespace korba {
#if defined(__GLIBC__)
namespace {

// glibc places a thread's static TLS at the top of its stack, out of the stack's size: the TLS
// blocks of the modules loaded at start. A sanitizer's runtime alone declares hundreds of KiB.
size_t static_tls_size() {
    size_t total = 0;
    dl_iterate_phdr(
        [](dl_phdr_info* module, size_t, void* sum) {
            for (int i = 0; i < module->dlpi_phnum; ++i) {
                const auto& header = module->dlpi_phdr[i];
                if (header.p_type == PT_TLS) *static_cast<size_t*>(sum) += header.p_memsz + header.p_align;
            }
            return 0;
        },
        &total);
    return total;
}

}  // namespace
#endif

void tune_memory_for_serving() {
#if defined(__GLIBC__)
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);  // glibc's default, now fixed
    mallopt(M_ARENA_MAX, 2);
    // Ample for the deepest connection (a print through libcups); 80 of them fit glibc's cache.
    constexpr size_t USABLE_STACK_SIZE = 512 * 1024;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t stack_size = (USABLE_STACK_SIZE + static_tls_size() + page - 1) / page * page;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return;
    if (pthread_attr_setstacksize(&attributes, stack_size) == 0) pthread_setattr_default_np(&attributes);
    pthread_attr_destroy(&attributes);
#endif
}

}  // namespace korba
