// The index of the default-attribute table; see default_index.h.
#include "xml/default_index.h"

#include <stdlib.h>
#include <string.h>

#include "xml/parse_budget.h"

namespace {

uint64_t mix(uint64_t h) {
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

uint64_t hash_name(const char *s, uint64_t seed) {
    uint64_t h = 14695981039346656037ull ^ seed;
    for (; *s; ++s)
        h = (h ^ static_cast<unsigned char>(*s)) * 1099511628211ull;
    return mix(h);
}

const char *list_name(char ***table, const default_index_slot &slot) {
    return table[slot.list - 1][0];
}

const char *triple_name(char ***table, const default_index_slot &slot) {
    return table[slot.list - 1][1 + 3 * (slot.triple - 1)];
}

bool make_room(default_index_slot *&slots, size_t &capacity, size_t count, parse_budget *budget) {
    if (2 * (count + 1) <= capacity)
        return true;
    size_t more = capacity ? 2 * capacity : 64;
    auto *grown =
        static_cast<default_index_slot *>(budget_calloc(budget, more, sizeof(default_index_slot)));
    if (!grown)
        return false;
    for (size_t i = 0; i < capacity; ++i) {
        if (!slots[i].list)
            continue;
        size_t j = slots[i].hash & (more - 1);
        while (grown[j].list)
            j = (j + 1) & (more - 1);
        grown[j] = slots[i];
    }
    free(slots);
    slots = grown;
    capacity = more;
    return true;
}

void place(default_index_slot *slots, size_t capacity, default_index_slot entry) {
    size_t j = entry.hash & (capacity - 1);
    while (slots[j].list)
        j = (j + 1) & (capacity - 1);
    slots[j] = entry;
}

bool add_triples(default_index *index, char ***table, size_t list) {
    char **entries = table[list];
    size_t t = index->lengths[list];
    for (; entries[1 + 3 * t]; ++t) {
        const char *attribute = entries[1 + 3 * t];
        if (default_index_triple(index, table, list, attribute) >= 0)
            continue; // only the first triple of a name is ever found
        if (t >= UINT32_MAX - 1 ||
            !make_room(index->triples, index->triple_slots, index->triple_count, index->budget))
            return false;
        place(index->triples, index->triple_slots,
              {hash_name(attribute, list), static_cast<uint32_t>(list + 1),
               static_cast<uint32_t>(t + 1)});
        ++index->triple_count;
    }
    index->lengths[list] = t;
    return true;
}

} // namespace

bool default_index_update(default_index *index, char ***table, ptrdiff_t changed) {
    if (index->unusable)
        return false;
    if (!table)
        return true;
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
        if (default_index_list(index, table, table[list][0]) < 0) {
            if (!make_room(index->lists, index->list_slots, index->list_count, index->budget)) {
                index->unusable = true;
                return false;
            }
            place(index->lists, index->list_slots,
                  {hash_name(table[list][0], 0), static_cast<uint32_t>(list + 1), 0});
            ++index->list_count;
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
    if (!index->list_slots)
        return -1;
    size_t mask = index->list_slots - 1;
    uint64_t h = hash_name(element, 0);
    for (size_t j = h & mask; index->lists[j].list; j = (j + 1) & mask)
        if (index->lists[j].hash == h && strcmp(list_name(table, index->lists[j]), element) == 0)
            return static_cast<ptrdiff_t>(index->lists[j].list - 1);
    return -1;
}

ptrdiff_t default_index_triple(const default_index *index, char ***table, size_t list,
                               const char *attribute) {
    if (!index->triple_slots)
        return -1;
    size_t mask = index->triple_slots - 1;
    uint64_t h = hash_name(attribute, list);
    for (size_t j = h & mask; index->triples[j].list; j = (j + 1) & mask) {
        const default_index_slot &slot = index->triples[j];
        if (slot.hash == h && slot.list == list + 1 &&
            strcmp(triple_name(table, slot), attribute) == 0)
            return static_cast<ptrdiff_t>(slot.triple - 1);
    }
    return -1;
}

size_t default_index_length(const default_index *index, size_t list) {
    return list < index->known_lists ? index->lengths[list] : 0;
}

void default_index_release(default_index *index) {
    free(index->lists);
    free(index->triples);
    free(index->lengths);
    *index = default_index{};
}
