// Heap accounting for the parser comparison: the program replaces the C
// library's malloc family with thin wrappers that forward to the C
// library's own allocator and keep a count of the bytes live and the peak.
// Every parser compared (and C++ operator new, which ends in malloc) goes
// through them, so one counter measures all of them the same way.
//
// A block counts as its usable size plus the allocator's per-block header,
// which is what it really takes from the heap: a parser that makes many
// small blocks pays that header on each.
//
// Include from exactly one source file of the program.
#ifndef BENCH_PARSERS_HEAP_H
#define BENCH_PARSERS_HEAP_H

#include <errno.h>
#include <malloc.h>
#include <stddef.h>
#include <stdint.h>

extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t count, size_t size);
void *__libc_realloc(void *block, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *block);
}

namespace heap {

struct counters {
    ptrdiff_t live; // bytes taken and not given back since the measurement began
    ptrdiff_t peak; // highest value of live
    size_t blocks;  // blocks taken
};

inline counters counts;
inline bool counting = false; // only while a measurement runs

inline ptrdiff_t footprint(void *block) {
    return block ? static_cast<ptrdiff_t>(malloc_usable_size(block) + sizeof(size_t)) : 0;
}

inline void taken(void *block) {
    if (!block || !counting) {
        return;
    }
    counts.live += footprint(block);
    ++counts.blocks;
    if (counts.live > counts.peak) {
        counts.peak = counts.live;
    }
}

inline void given_back(void *block) {
    if (counting) {
        counts.live -= footprint(block);
    }
}

// Starts a measurement: from here on until stop(), every block taken and
// given back is counted. (A block taken before and given back during it
// would lower the count; the parsers measured give back only their own.)
inline void start() {
    counts = {};
    counting = true;
}

inline void stop() {
    counting = false;
}

inline size_t peak() {
    return static_cast<size_t>(counts.peak);
}

inline size_t held() {
    return counts.live > 0 ? static_cast<size_t>(counts.live) : 0;
}

inline size_t blocks() {
    return counts.blocks;
}

} // namespace heap

extern "C" {

void *malloc(size_t size) noexcept {
    void *block = __libc_malloc(size);
    heap::taken(block);
    return block;
}

void *calloc(size_t count, size_t size) noexcept {
    void *block = __libc_calloc(count, size);
    heap::taken(block);
    return block;
}

void *realloc(void *old, size_t size) noexcept {
    ptrdiff_t before = heap::counting ? heap::footprint(old) : 0;
    void *block = __libc_realloc(old, size);
    if (!block) {
        // A failed realloc keeps the old block; one to size 0 has freed it.
        if (old && size == 0) {
            heap::counts.live -= before;
        }
        return block;
    }
    heap::counts.live -= before;
    heap::taken(block);
    return block;
}

void free(void *block) noexcept {
    heap::given_back(block);
    __libc_free(block);
}

void *memalign(size_t alignment, size_t size) noexcept {
    void *block = __libc_memalign(alignment, size);
    heap::taken(block);
    return block;
}

void *aligned_alloc(size_t alignment, size_t size) noexcept {
    return memalign(alignment, size);
}

int posix_memalign(void **out, size_t alignment, size_t size) noexcept {
    if (alignment < sizeof(void *) || (alignment & (alignment - 1)) != 0) {
        return EINVAL;
    }
    void *block = memalign(alignment, size);
    if (!block) {
        return ENOMEM;
    }
    *out = block;
    return 0;
}

void *valloc(size_t size) noexcept {
    return memalign(4096, size);
}

void *pvalloc(size_t size) noexcept {
    return memalign(4096, (size + 4095) & ~size_t{4095});
}

} // extern "C"

#endif
