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

#include <stddef.h>

#include "xml/ezxml.h"

struct element_slab;

// The slab the parser is filling: records are taken from it in order.
struct element_pool {
    element_slab *slab;
    size_t used;     // records taken from the slab
    size_t capacity; // records the slab holds
    size_t next_capacity;
};

// A zeroed record of size bytes (an element or a document) in a block of
// its own, or null when no memory can be had.
void *new_record(size_t size);

// A zeroed element record from the pool, or null when no memory can be had.
// At most `expected` more records will be wanted (a hint that keeps the
// last slab from being much larger than needed; 0: unknown).
ezxml *pool_element(element_pool *pool, size_t expected);

// Frees a record made by either of the above.
void free_record(void *record);

// Ends the pool's use of its slab: records already taken stay valid.
void pool_release(element_pool *pool);

#endif
