// The hash table, and the entity index, the default-attribute index and
// the name set kept in it; see hash_table.h and indexes.h.
#include "xml/indexes.h"

#include <stdlib.h>
#include <string.h>

#include "xml/hash_table.h"
#include "xml/parse_budget.h"

// ---------------------------------------------------------------- entities

namespace {

// Only names whose single ";" is their last byte can be found by hashing
// the text up to its first ";".
bool simple_name(const char *name, size_t *length) {
    const char *semicolon = strchr(name, ';');
    if (!semicolon || semicolon[1] != '\0') {
        return false;
    }
    *length = static_cast<size_t>(semicolon - name) + 1;
    return true;
}

// Every "&" reference in text, up to and including its ";".
bool add_mentions(entity_index *index, const char *text) {
    if (!text) {
        return true;
    }
    for (const char *p = strchr(text, '&'); p; p = strchr(p + 1, '&')) {
        const char *semicolon = strchr(p + 1, ';');
        if (!semicolon) {
            break; // no later reference can end either
        }
        uint64_t h = hash_bytes(p + 1, static_cast<size_t>(semicolon - p));
        if (!hash_find(index->mentions, h, [](uint64_t) { return true; }) &&
            !hash_add(index->mentions, h, 1)) {
            return false;
        }
    }
    return true;
}

bool add_name(entity_index *index, char **list, size_t pair) {
    size_t length;
    if (!simple_name(list[2 * pair], &length) || pair >= UINT32_MAX) {
        return false;
    }
    // Of two pairs with one name the first is the one found; a later one is
    // never looked up, so it needs no entry.
    if (entity_index_find(index, list, list[2 * pair]) >= 0) {
        return true;
    }
    if (!hash_add(index->names, hash_bytes(list[2 * pair], length), pair + 1)) {
        return false;
    }
    if (length > index->longest_name) {
        index->longest_name = length;
    }
    return true;
}

} // namespace

void entity_index_start(entity_index *index, parse_budget *budget) {
    *index = entity_index{};
    index->names.budget = budget;
    index->mentions.budget = budget;
}

bool entity_index_sync(entity_index *index, char **list) {
    if (index->unusable || !list) {
        return false;
    }
    while (list[2 * index->pairs]) {
        size_t pair = index->pairs;
        if (!add_name(index, list, pair) || !add_mentions(index, list[2 * pair + 1])) {
            index->unusable = true;
            return false;
        }
        ++index->pairs;
    }
    return true;
}

ptrdiff_t entity_index_find(const entity_index *index, char **list, const char *text) {
    if (!index->names.count) {
        return -1;
    }
    // Every name ends at its only ";", so the text's first ";" says which
    // name alone could begin it; no name is longer than the longest one.
    size_t length = 0;
    while (length < index->longest_name && text[length] && text[length] != ';') {
        ++length;
    }
    if (length == index->longest_name || text[length] != ';') {
        return -1;
    }
    ++length;
    uint64_t pair = hash_find(index->names, hash_bytes(text, length), [&](uint64_t value) {
        const char *name = list[2 * (value - 1)];
        return strncmp(name, text, length) == 0 && name[length] == '\0';
    });
    return static_cast<ptrdiff_t>(pair) - 1;
}

bool entity_index_mentions(const entity_index *index, const char *name) {
    // A reference is recorded up to its first ";", and a text that begins
    // with name has that ";" where name has its first one. A name without
    // one could begin a reference of any length: the index cannot tell.
    const char *semicolon = strchr(name, ';');
    if (!semicolon) {
        return true;
    }
    uint64_t h = hash_bytes(name, static_cast<size_t>(semicolon - name) + 1);
    return hash_find(index->mentions, h, [](uint64_t) { return true; }) != 0;
}

void entity_index_release(entity_index *index) {
    hash_release(index->names);
    hash_release(index->mentions);
    index->pairs = index->longest_name = 0;
}

// ---------------------------------------------------- declared attributes

namespace {

uint64_t triple_value(size_t list, size_t triple) {
    return (static_cast<uint64_t>(list + 1) << 32) | (triple + 1);
}

bool add_triples(default_index *index, char ***table, size_t list) {
    char **entries = table[list];
    size_t t = index->lengths[list];
    for (; entries[1 + 3 * t]; ++t) {
        const char *attribute = entries[1 + 3 * t];
        if (default_index_triple(index, table, list, attribute) >= 0) {
            continue; // only the first triple of a name is ever found
        }
        if (t >= UINT32_MAX - 1 ||
            !hash_add(index->triples, hash_string(attribute, list), triple_value(list, t))) {
            return false;
        }
    }
    index->lengths[list] = t;
    return true;
}

} // namespace

void default_index_start(default_index *index, parse_budget *budget) {
    *index = default_index{};
    index->budget = index->lists.budget = index->triples.budget = budget;
}

bool default_index_update(default_index *index, char ***table, ptrdiff_t changed) {
    if (index->unusable) {
        return false;
    }
    if (!table) {
        return true;
    }
    for (size_t list = index->known_lists; table[list]; ++list) {
        if (list >= UINT32_MAX - 1) {
            index->unusable = true;
            return false;
        }
        if (list == index->lengths_capacity) {
            size_t more = index->lengths_capacity ? 2 * index->lengths_capacity : 16;
            auto *grown = static_cast<size_t *>(
                budget_realloc(index->budget, index->lengths, more * sizeof(size_t)));
            if (!grown) {
                index->unusable = true;
                return false;
            }
            index->lengths = grown;
            index->lengths_capacity = more;
        }
        index->lengths[list] = 0;
        index->known_lists = list + 1;
        if (default_index_list(index, table, table[list][0]) < 0 &&
            !hash_add(index->lists, hash_string(table[list][0]), list + 1)) {
            index->unusable = true;
            return false;
        }
        if (!add_triples(index, table, list)) {
            index->unusable = true;
            return false;
        }
    }
    if (changed >= 0 && static_cast<size_t>(changed) < index->known_lists &&
        !add_triples(index, table, static_cast<size_t>(changed))) {
        index->unusable = true;
        return false;
    }
    return true;
}

ptrdiff_t default_index_list(const default_index *index, char ***table, const char *element) {
    uint64_t list = hash_find(index->lists, hash_string(element), [&](uint64_t value) {
        return strcmp(table[value - 1][0], element) == 0;
    });
    return static_cast<ptrdiff_t>(list) - 1;
}

ptrdiff_t default_index_triple(const default_index *index, char ***table, size_t list,
                               const char *attribute) {
    uint64_t found = hash_find(index->triples, hash_string(attribute, list), [&](uint64_t value) {
        size_t in_list = static_cast<size_t>(value >> 32) - 1;
        size_t triple = static_cast<size_t>(value & 0xFFFFFFFFu) - 1;
        return in_list == list && strcmp(table[list][1 + 3 * triple], attribute) == 0;
    });
    return static_cast<ptrdiff_t>(found & 0xFFFFFFFFu) - 1;
}

size_t default_index_length(const default_index *index, size_t list) {
    return list < index->known_lists ? index->lengths[list] : 0;
}

void default_index_release(default_index *index) {
    hash_release(index->lists);
    hash_release(index->triples);
    free(index->lengths);
    index->lengths = nullptr;
    index->known_lists = index->lengths_capacity = 0;
}

// ---------------------------------------------------------------- name set

void name_set_init(NameSet *set) {
    set->table = hash_table{};
    set->count = 0;
    set->failed = false;
}

void name_set_release(NameSet *set) {
    hash_release(set->table);
    name_set_init(set);
}

int name_set_contains(const NameSet *set, const char *name) {
    if (set->table.capacity) {
        auto same = [&](uint64_t value) {
            return strcmp(reinterpret_cast<const char *>(value), name) == 0;
        };
        if (hash_find(set->table, hash_string(name), same)) {
            return 1;
        }
    } else {
        for (size_t i = 0; i < set->count; ++i) {
            if (strcmp(set->local[i], name) == 0) {
                return 1;
            }
        }
    }
    return set->failed ? -1 : 0;
}

int name_set_add(NameSet *set, const char *name) {
    int present = name_set_contains(set, name);
    if (present != 0) {
        return present == 1 ? 0 : -1;
    }
    if (!set->table.capacity && set->count < name_set_local) {
        set->local[set->count++] = name;
        return 1;
    }
    if (!set->table.capacity) {
        // The local names move into the table first.
        for (size_t i = 0; i < set->count; ++i) {
            if (!hash_add(set->table, hash_string(set->local[i]),
                          reinterpret_cast<uintptr_t>(set->local[i]))) {
                hash_release(set->table);
                set->failed = true;
                return -1;
            }
        }
    }
    if (!hash_add(set->table, hash_string(name), reinterpret_cast<uintptr_t>(name))) {
        set->failed = true;
        return -1;
    }
    ++set->count;
    return 1;
}

namespace {

void place(hash_slot *slots, size_t capacity, hash_slot entry) {
    size_t mask = capacity - 1;
    size_t i = entry.hash & mask;
    while (slots[i].value) {
        i = (i + 1) & mask;
    }
    slots[i] = entry;
}

bool grow(hash_table &table) {
    size_t capacity = table.capacity ? 2 * table.capacity : 64;
    auto *slots =
        static_cast<hash_slot *>(budget_calloc(table.budget, capacity, sizeof(hash_slot)));
    if (!slots) {
        return false;
    }
    for (size_t i = 0; i < table.capacity; ++i) {
        if (table.slots[i].value) {
            place(slots, capacity, table.slots[i]);
        }
    }
    free(table.slots);
    table.slots = slots;
    table.capacity = capacity;
    return true;
}

} // namespace

bool hash_add(hash_table &table, uint64_t hash, uint64_t value) {
    assert(value != 0);
    if (2 * (table.count + 1) > table.capacity && !grow(table)) {
        return false;
    }
    place(table.slots, table.capacity, {hash, value});
    ++table.count;
    assert(2 * table.count <= table.capacity);
    return true;
}

void hash_release(hash_table &table) {
    free(table.slots);
    table.slots = nullptr;
    table.capacity = table.count = 0;
}
