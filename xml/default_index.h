// Internal: finding declared attributes in constant time.
//
// The default-attribute table is a list of per-element lists of triples
// (attribute name, default value, type marker). Finding an element's list,
// or an attribute's triple in it, by scanning makes documents with many
// declarations cost the product of declarations and uses: the declaration
// scanner looks an element up for every attribute-list declaration and
// walks the list to its end for every triple it adds, the parser looks the
// element and each attribute up for every start tag, and the serialiser
// looks each element up. This index answers the same questions (the first
// list of a name, the first triple of a name) and knows each list's length.
// The parser keeps one for the length of a parse, updated by the
// declaration scanner as it adds lists and triples; the serialiser builds
// one for each document it writes.
#ifndef EZXML_DEFAULT_INDEX_H
#define EZXML_DEFAULT_INDEX_H

#include <stddef.h>
#include <stdint.h>

struct parse_budget;

struct default_index_slot {
    uint64_t hash;
    uint32_t list;   // list number + 1; 0 marks a free slot
    uint32_t triple; // triple number + 1 (0 in the table of lists)
};

struct default_index {
    default_index_slot *lists; // element name -> first list of that name
    size_t list_slots;
    size_t list_count;
    default_index_slot *triples; // (list, attribute name) -> first triple of that name
    size_t triple_slots;
    size_t triple_count;
    size_t *lengths; // triples indexed per list
    size_t known_lists;
    size_t lengths_capacity;
    bool unusable;        // memory ran out: callers scan instead
    parse_budget *budget; // charged for the index's tables; null: nothing is
};

// Indexes the lists added to table since the last update, and the triples
// added since then to list number `changed` (or to none when it is -1).
// False when the index cannot answer (callers then scan the table).
bool default_index_update(default_index *index, char ***table, ptrdiff_t changed);

// The number of the first list for element, or -1.
ptrdiff_t default_index_list(const default_index *index, char ***table, const char *element);

// The number of the first triple for attribute in list number `list`, or -1.
ptrdiff_t default_index_triple(const default_index *index, char ***table, size_t list,
                               const char *attribute);

// The number of triples of list number `list`.
size_t default_index_length(const default_index *index, size_t list);

void default_index_release(default_index *index);

#endif
