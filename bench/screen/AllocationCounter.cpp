// Counts heap allocations in this process (operator new, malloc and the aligned variants that
// FFmpeg and x264 use) by standing in for the C library's allocation entry points.

#include "AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* ptr, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
void __libc_free(void* ptr);
}

namespace {
std::atomic<uint64_t> gAllocations{0};
inline void count() {
    gAllocations.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

namespace rivlo::bench {
uint64_t allocationCount() {
    return gAllocations.load(std::memory_order_relaxed);
}
}  // namespace rivlo::bench

extern "C" {

void* malloc(size_t size) {
    count();
    return __libc_malloc(size);
}

void* calloc(size_t n, size_t size) {
    count();
    return __libc_calloc(n, size);
}

void* realloc(void* ptr, size_t size) {
    count();
    return __libc_realloc(ptr, size);
}

void free(void* ptr) {
    __libc_free(ptr);
}

int posix_memalign(void** out, size_t alignment, size_t size) {
    count();
    void* p = __libc_memalign(alignment, size);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

void* aligned_alloc(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

void* memalign(size_t alignment, size_t size) {
    count();
    return __libc_memalign(alignment, size);
}

}  // extern "C"
