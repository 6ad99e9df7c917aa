// The name set behind the serialiser's first-of-its-name rules.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/name_set.h"

namespace {

size_t hash_name(const char *name) {
    uint32_t h = 2166136261u; // FNV-1a
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p) {
        h ^= *p;
        h *= 16777619u;
    }
    return h;
}

// The slot that holds name, or the empty slot where it would go.
const char **slot_for(const char **table, size_t capacity, const char *name) {
    size_t i = hash_name(name) & (capacity - 1);
    while (table[i] && strcmp(table[i], name) != 0)
        i = (i + 1) & (capacity - 1);
    return &table[i];
}

// Moves the names into a table with room for twice as many, so that it never
// gets more than half full.
bool grow(NameSet *set) {
    size_t capacity = set->table ? set->capacity * 2 : name_set_local * 4;
    if (capacity > SIZE_MAX / sizeof(const char *))
        return false;
    const char **table = static_cast<const char **>(calloc(capacity, sizeof *table));
    if (!table)
        return false;
    if (set->table) {
        for (size_t i = 0; i < set->capacity; ++i)
            if (set->table[i])
                *slot_for(table, capacity, set->table[i]) = set->table[i];
        free(set->table);
    } else {
        for (size_t i = 0; i < set->count; ++i)
            *slot_for(table, capacity, set->local[i]) = set->local[i];
    }
    set->table = table;
    set->capacity = capacity;
    return true;
}

} // namespace

void name_set_init(NameSet *set) {
    set->table = nullptr;
    set->capacity = 0;
    set->count = 0;
    set->failed = false;
}

void name_set_release(NameSet *set) {
    free(set->table);
    name_set_init(set);
}

int name_set_contains(const NameSet *set, const char *name) {
    if (set->table) {
        if (*slot_for(set->table, set->capacity, name))
            return 1;
    } else {
        for (size_t i = 0; i < set->count; ++i)
            if (strcmp(set->local[i], name) == 0)
                return 1;
    }
    return set->failed ? -1 : 0;
}

int name_set_add(NameSet *set, const char *name) {
    int present = name_set_contains(set, name);
    if (present != 0)
        return present == 1 ? 0 : -1;
    if (!set->table && set->count < name_set_local) {
        set->local[set->count++] = name;
        return 1;
    }
    if ((!set->table || 2 * (set->count + 1) > set->capacity) && !grow(set)) {
        set->failed = true;
        return -1;
    }
    *slot_for(set->table, set->capacity, name) = name;
    ++set->count;
    return 1;
}
