// Internal: the one hash table behind the library's indexes (the entity
// index, the default-attribute index and the serialiser's name sets).
//
// Open addressing with linear probing, kept at most half full, so that a
// probe run is short. A slot holds an entry's hash and its value; the value
// 0 marks a free slot, so values are numbers plus one or pointers. What a
// value means, and when two entries are the same, is the user's business:
// lookups hand every value of a matching hash to a test of the user's.
// Entries are never removed; the table grows by doubling (rehashing from the
// stored hashes, without a look at what the values stand for). Its blocks
// are charged to a parse's budget when it has one.
#ifndef EZXML_HASH_TABLE_H
#define EZXML_HASH_TABLE_H

#include <assert.h>
#include <stddef.h>
#include <stdint.h>

struct parse_budget;

// FNV-1a over the bytes, from a seed, then a full avalanche, so that names
// differing in one character spread over the whole table rather than into
// runs of neighbouring slots.
inline uint64_t hash_bytes(const char *s, size_t n, uint64_t seed = 0) {
    uint64_t h = 14695981039346656037ull ^ seed;
    for (size_t i = 0; i < n; ++i) {
        h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ull;
    }
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return h;
}

inline uint64_t hash_string(const char *s, uint64_t seed = 0) {
    return hash_bytes(s, __builtin_strlen(s), seed);
}

struct hash_slot {
    uint64_t hash;
    uint64_t value; // 0: free
};

struct hash_table {
    hash_slot *slots = nullptr;
    size_t capacity = 0; // a power of two, or 0
    size_t count = 0;
    parse_budget *budget = nullptr; // charged for the slots; null: nothing is
};

// The first value stored under hash for which same(value) holds, or 0.
template <typename Same> uint64_t hash_find(const hash_table &table, uint64_t hash, Same same) {
    if (!table.capacity) {
        return 0;
    }
    size_t mask = table.capacity - 1;
    for (size_t i = hash & mask; table.slots[i].value; i = (i + 1) & mask) {
        if (table.slots[i].hash == hash && same(table.slots[i].value)) {
            return table.slots[i].value;
        }
    }
    return 0;
}

// Adds an entry (value not 0) without looking for an equal one: callers add
// only what they did not find. False when no memory can be had (or the
// budget does not allow it); the table is then unchanged.
bool hash_add(hash_table &table, uint64_t hash, uint64_t value);

void hash_release(hash_table &table);

#endif
