// Element records on their own and in slabs; see element_store.h.
#include "xml/element_store.h"

#include <assert.h>
#include <stdlib.h>
#include <string.h>

namespace {

constexpr size_t slot_size = sizeof(record_header) + sizeof(ezxml);
static_assert(slot_size % alignof(ezxml) == 0);

// Slab sizes grow from the first to the last, doubling; small documents
// thus take small slabs, large ones few allocations.
constexpr size_t first_slab_records = 16;
constexpr size_t largest_slab_records = 2048;

// The slab header, padded like a record header so that slots stay aligned.
constexpr size_t slab_header_size = sizeof(element_slab) > sizeof(record_header)
                                        ? (sizeof(element_slab) + sizeof(record_header) - 1) /
                                              sizeof(record_header) * sizeof(record_header)
                                        : sizeof(record_header);

char *slot_at(element_slab *slab, size_t i) {
    return reinterpret_cast<char *>(slab) + slab_header_size + i * slot_size;
}

void drop_reference(element_slab *slab) {
    assert(slab->live > 0); // a record freed twice, or one the pool never gave
    if (--slab->live == 0) {
        free(slab);
    }
}

} // namespace

void *new_record(size_t size) {
    auto *header = static_cast<record_header *>(calloc(1, sizeof(record_header) + size));
    if (!header) {
        return nullptr;
    }
    header->slab_and_linked = 0;
    return header + 1;
}

bool pool_refill(element_pool *pool, size_t expected) {
    size_t capacity = pool->next_capacity ? pool->next_capacity : first_slab_records;
    if (expected && expected < capacity) {
        capacity = expected;
    }
    auto *slab = static_cast<element_slab *>(
        budget_malloc(pool->budget, slab_header_size + capacity * slot_size));
    if (!slab) {
        return false;
    }
    if (pool->slab) {
        drop_reference(pool->slab);
    }
    slab->live = 1; // the pool's own, until it moves on
    pool->slab = slab;
    pool->next_slot = slot_at(slab, 0);
    pool->left = capacity;
    size_t doubled = capacity * 2;
    pool->next_capacity = doubled < largest_slab_records ? doubled : largest_slab_records;
    if (pool->next_capacity < first_slab_records) {
        pool->next_capacity = first_slab_records;
    }
    return true;
}

void free_record(void *record) {
    if (!record) {
        return;
    }
    record_header *header = static_cast<record_header *>(record) - 1;
    auto *slab = reinterpret_cast<element_slab *>(header->slab_and_linked & ~record_linked_bit);
    if (slab) {
        drop_reference(slab);
    } else {
        free(header);
    }
}

void pool_release(element_pool *pool) {
    if (pool->slab) {
        drop_reference(pool->slab);
    }
    *pool = element_pool{};
}
