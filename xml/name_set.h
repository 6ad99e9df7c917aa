// A set of names for telling the first occurrence of a name from later ones
// in long lists, in linear time overall; internal to the library.
#ifndef EZXML_NAME_SET_H
#define EZXML_NAME_SET_H

#include <stddef.h>

// Small sets are searched directly; past `name_set_local` names the set moves
// to a hash table on the heap. Names are held by pointer, not copied.
constexpr size_t name_set_local = 16;

struct NameSet {
    const char *local[name_set_local];
    const char **table; // null while the names fit in `local`
    size_t capacity;    // of `table`, a power of two
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
