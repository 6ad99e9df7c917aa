#include "support/counting_allocator.h"

#include <cstddef>

#if ALLOCATOR_REPLACED

extern "C" void *__libc_malloc(size_t);
extern "C" void *__libc_calloc(size_t, size_t);
extern "C" void *__libc_realloc(void *, size_t);
extern "C" void __libc_free(void *);

namespace {
// Allocations that succeed before they start failing; negative: never fail.
long allocations_left = -1;
bool fail_only_once = false;
long allocations_seen = 0;
long live_blocks = 0;

bool allocation_fails() {
    ++allocations_seen;
    if (allocations_left < 0) {
        return false;
    }
    if (allocations_left > 0) {
        --allocations_left;
        return false;
    }
    if (fail_only_once) {
        allocations_left = -1;
    }
    return true;
}

void *counted(void *block) {
    if (block) {
        ++live_blocks;
    }
    return block;
}
} // namespace

extern "C" void *malloc(size_t size) {
    return allocation_fails() ? nullptr : counted(__libc_malloc(size));
}
extern "C" void *calloc(size_t count, size_t size) {
    return allocation_fails() ? nullptr : counted(__libc_calloc(count, size));
}
extern "C" void *realloc(void *block, size_t size) {
    if (allocation_fails()) {
        return nullptr;
    }
    void *moved = __libc_realloc(block, size);
    if (!block) {
        return counted(moved);
    }
    if (!moved && size == 0) {
        --live_blocks; // the C library freed the block
    }
    return moved;
}
extern "C" void free(void *block) {
    if (block) {
        --live_blocks;
    }
    __libc_free(block);
}

long live_heap() {
    return live_blocks;
}

void fail_allocations_after(long succeeding, bool once) {
    allocations_left = succeeding;
    fail_only_once = once;
}

long take_allocations_seen() {
    long seen = allocations_seen;
    allocations_seen = 0;
    return seen;
}

#else

extern "C" size_t __sanitizer_get_current_allocated_bytes();

long live_heap() {
    return static_cast<long>(__sanitizer_get_current_allocated_bytes());
}

#endif
