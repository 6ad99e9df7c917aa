// Internal: finding entities by name in constant time while a document is
// parsed.
//
// Decoding looks every reference up in the document's entity list, and the
// guard against circular declarations follows references through it; both
// scan the list from its start, so a document with many entities and many
// references costs their product. The parser keeps this index beside the
// list for the length of one parse: it answers the same question as the
// scan (the first pair whose name begins the text) and also knows which
// names any replacement text mentions, which lets the guard skip its walk
// for a name that nothing refers to yet. It indexes the pairs as they
// appear at the list's end, so it always matches the list it is given.
#ifndef EZXML_ENTITY_INDEX_H
#define EZXML_ENTITY_INDEX_H

#include <stddef.h>
#include <stdint.h>

struct parse_budget;

struct entity_index {
    size_t pairs;        // pairs of the list indexed so far
    size_t longest_name; // bytes, ";" included
    uint32_t *names;     // open addressing: pair number + 1, 0 when free
    size_t name_slots;   // a power of two, or 0
    size_t name_count;
    uint64_t *mentions; // hashes of the names referred to by "&" in texts; 0 when free
    size_t mention_slots;
    size_t mention_count;
    bool unusable;        // a name with ";" before its end, or no memory: scan instead
    parse_budget *budget; // charged for the index's tables; null: nothing is
};

// Brings the index up to date with list, which must be the list it has
// indexed so far, possibly longer. False when the index cannot answer for
// this list (the caller then scans the list itself).
bool entity_index_sync(entity_index *index, char **list);

// The number of the first pair whose name begins text, or -1. Only after a
// successful entity_index_sync with the same list.
ptrdiff_t entity_index_find(const entity_index *index, char **list, const char *text);

// Whether some indexed replacement text refers to name ("&" name) at all.
// May say yes wrongly (then a caller merely does more work), never no.
bool entity_index_mentions(const entity_index *index, const char *name);

void entity_index_release(entity_index *index);

#endif
