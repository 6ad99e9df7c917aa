// Internal: where element records live.
//
// A parse makes one record per element, and asking the C allocator for each
// of them costs more than the rest of the parse. So the parser carves its
// records out of larger blocks (slabs), while records made one at a time
// (a document, ezxml_add_child) get a block of their own. Either way a
// record can be freed on its own, in any order, since ezxml_free and
// ezxml_cut work on single elements and subtrees: every record is preceded
// by a hidden word naming its slab (null for a record on its own), and a
// slab counts the records still alive in it and goes when the last one does.
// Callers never allocate element records themselves, so every record that
// reaches the library carries that word.
#ifndef EZXML_ELEMENT_STORE_H
#define EZXML_ELEMENT_STORE_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>

#include "xml/ezxml.h"
#include "xml/parse_budget.h"

struct element_slab {
    size_t live; // records taken and not yet freed, plus one while a pool fills it
};

// The hidden word in front of every record. It keeps the record aligned as
// the record needs: records hold nothing wider than a pointer. It names the
// record's slab, and its lowest bit (free, since slabs are aligned) says
// whether the element stands in a parent's chains: linking sets it, cutting
// clears it, so that nothing needs to look at a parent that may be gone.
union record_header {
    uintptr_t slab_and_linked;
    void *align_as_pointer;
};
static_assert(alignof(ezxml_document) <= sizeof(record_header));
static_assert(alignof(ezxml) <= sizeof(record_header));
static_assert(alignof(element_slab) > 1);

constexpr uintptr_t record_linked_bit = 1;

inline record_header *header_of(const ezxml *record) {
    return reinterpret_cast<record_header *>(const_cast<ezxml *>(record)) - 1;
}

// Whether the element stands in its parent's chains.
inline bool record_linked(const ezxml *element) {
    return header_of(element)->slab_and_linked & record_linked_bit;
}

inline void set_record_linked(ezxml *element, bool linked) {
    record_header *header = header_of(element);
    header->slab_and_linked = (header->slab_and_linked & ~record_linked_bit) | linked;
}

// The slab the parser is filling: records are taken from it in order.
struct element_pool {
    element_slab *slab;
    char *next_slot; // where the next record's header goes
    size_t left;     // records the slab can still give
    size_t next_capacity;
    parse_budget *budget; // charged for every slab; null: nothing is charged
};

// A zeroed record of size bytes (an element or a document) in a block of
// its own, or null when no memory can be had.
void *new_record(size_t size);

// Starts a new slab for the pool; false when no memory can be had (or the
// pool's budget does not allow it).
bool pool_refill(element_pool *pool, size_t expected);

// A zeroed element record from the pool, or null when no memory can be had.
// At most `expected` more records will be wanted (a hint that keeps the
// last slab from being much larger than needed; 0: unknown).
inline ezxml *pool_element(element_pool *pool, size_t expected) {
    if (!pool->left && !pool_refill(pool, expected)) {
        return nullptr;
    }
    // The pool holds its own count on the slab it fills, beside one for
    // every record taken and not yet freed.
    assert(pool->slab && pool->slab->live >= 1 && pool->left > 0);
    auto *header = reinterpret_cast<record_header *>(pool->next_slot);
    header->slab_and_linked = reinterpret_cast<uintptr_t>(pool->slab);
    ++pool->slab->live;
    --pool->left;
    pool->next_slot += sizeof(record_header) + sizeof(ezxml);
    auto *record = reinterpret_cast<ezxml *>(header + 1);
    *record = ezxml{};
    return record;
}

// Frees a record made by either of the above.
void free_record(void *record);

// Ends the pool's use of its slab: records already taken stay valid.
void pool_release(element_pool *pool);

#endif
