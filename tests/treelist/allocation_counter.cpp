#include "allocation_counter.h"

#include <atomic>
#include <cstdlib>

// Every allocation of the process is counted, Qt's own mallocs included: a paint that allocates
// through malloc directly must show up as well as one that calls operator new.

namespace {
std::atomic<std::size_t> allocations{0};

void Count() {
    allocations.fetch_add(1, std::memory_order_relaxed);
}
} // namespace

std::size_t AllocationCount() {
    return allocations.load();
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// A sanitizer owns malloc; it reports every allocation to a hook instead (declared here: the
// compiler's sanitizer headers are not always installed).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void*,
                                                                             std::size_t),
                                                         void (*free_hook)(const volatile void*));

namespace {
void OnMalloc(const volatile void*, std::size_t) {
    Count();
}
void OnFree(const volatile void*) {}
const int installed = __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
} // namespace

#else
// glibc lets a program replace its allocator functions and still reach its own under these names.
extern "C" {
// NOLINTBEGIN(bugprone-reserved-identifier): glibc's own names
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
// NOLINTEND(bugprone-reserved-identifier)

void* malloc(std::size_t size) {
    Count();
    return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
    Count();
    return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) {
    Count();
    return __libc_realloc(p, size);
}
}
#endif
