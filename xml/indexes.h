// Internal: the indexes that find names in constant time, all three kept in
// the one hash table of hash_table.h.
//
// - The entity index. Decoding looks every reference up in the document's
//   entity list, and the guard against circular declarations follows
//   references through it; both would scan the list from its start, so a
//   document with many entities and many references would cost their
//   product. The parser keeps this index beside the list for the length of
//   one parse: it answers the same question as the scan (the first pair
//   whose name begins the text) and also knows which names any replacement
//   text mentions, which lets the guard skip its walk for a name that
//   nothing refers to yet. It indexes the pairs as they appear at the
//   list's end, so it always matches the list it is given.
//
// - The default-attribute index. The default-attribute table is a list of
//   per-element lists of triples (attribute name, default value, type
//   marker). The declaration scanner looks an element up for every
//   attribute-list declaration and walks the list to its end for every
//   triple it adds, the parser looks the element and each attribute up for
//   every start tag, and the serialiser looks each element up. This index
//   answers the same questions (the first list of a name, the first triple
//   of a name) and knows each list's length. The parser keeps one for the
//   length of a parse, updated by the declaration scanner as it adds lists
//   and triples; the serialiser builds one for each document it writes.
//
// - The name set, for telling the first occurrence of a name from later
//   ones in long lists (the serialiser's first-of-its-name rules). Small
//   sets are searched directly; past `name_set_local` names the set moves
//   to the table. Names are held by pointer, not copied.
#ifndef EZXML_INDEXES_H
#define EZXML_INDEXES_H

#include <stddef.h>
#include <stdint.h>

#include "xml/hash_table.h"

struct parse_budget;

// ---------------------------------------------------------------- entities

struct entity_index {
    size_t pairs = 0;        // pairs of the list indexed so far
    size_t longest_name = 0; // bytes, ";" included
    hash_table names;        // a name's hash -> its pair number + 1
    hash_table mentions;     // the hash of every "&" reference in the texts, up to its ";" -> 1
    bool unusable = false;   // a name with ";" before its end, or no memory: scan instead
};

// Readies an index whose tables are charged to budget (null: to nothing).
void entity_index_start(entity_index *index, parse_budget *budget);

// Brings the index up to date with list, which must be the list it has
// indexed so far, possibly longer. False when the index cannot answer for
// this list (the caller then scans the list itself).
bool entity_index_sync(entity_index *index, char **list);

// The number of the first pair whose name begins text, or -1. Only after a
// successful entity_index_sync with the same list.
ptrdiff_t entity_index_find(const entity_index *index, char **list, const char *text);

// Whether some indexed replacement text may refer to name ("&" name). May
// say yes wrongly (then a caller merely does more work), never no.
bool entity_index_mentions(const entity_index *index, const char *name);

void entity_index_release(entity_index *index);

// ---------------------------------------------------- declared attributes

struct default_index {
    hash_table lists;          // an element name's hash -> its first list's number + 1
    hash_table triples;        // hash of (list, attribute name) -> (list + 1) << 32 | (triple + 1)
    size_t *lengths = nullptr; // triples indexed per list
    size_t known_lists = 0;
    size_t lengths_capacity = 0;
    bool unusable = false;          // memory ran out: callers scan instead
    parse_budget *budget = nullptr; // charged for the index's blocks; null: nothing is
};

// Readies an index whose blocks are charged to budget (null: to nothing).
void default_index_start(default_index *index, parse_budget *budget);

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

// ---------------------------------------------------------------- name set

constexpr size_t name_set_local = 16;

struct NameSet {
    const char *local[name_set_local];
    hash_table table; // a name's hash -> the name; empty while the names fit in `local`
    size_t count;
    bool failed; // memory ran out: the set no longer knows all its names
};

void name_set_init(NameSet *set);
void name_set_release(NameSet *set);

// 1 when name was added, 0 when it was there already, -1 when the set
// cannot tell (memory ran out); the caller then has to look for itself.
int name_set_add(NameSet *set, const char *name);

// 1 when name is in the set, 0 when not, -1 when the set cannot tell.
int name_set_contains(const NameSet *set, const char *name);

#endif
