// The parse's index of the document's entity list; see entity_index.h.
#include "xml/entity_index.h"

#include <stdlib.h>
#include <string.h>

#include "xml/parse_budget.h"

namespace {

uint64_t hash_bytes(const char *s, size_t n) {
    uint64_t h = 14695981039346656037ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<unsigned char>(s[i])) * 1099511628211ull;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    return h ? h : 1; // 0 marks a free mention slot
}

// Only names whose single ";" is their last byte can be found by hashing
// the text up to its first ";".
bool simple_name(const char *name, size_t *length) {
    const char *semicolon = strchr(name, ';');
    if (!semicolon || semicolon[1] != '\0')
        return false;
    *length = static_cast<size_t>(semicolon - name) + 1;
    return true;
}

bool add_mention(entity_index *index, uint64_t h) {
    if (2 * (index->mention_count + 1) > index->mention_slots) {
        size_t more = index->mention_slots ? 2 * index->mention_slots : 64;
        auto *grown = static_cast<uint64_t *>(budget_calloc(index->budget, more, sizeof(uint64_t)));
        if (!grown)
            return false;
        for (size_t i = 0; i < index->mention_slots; ++i) {
            uint64_t old = index->mentions[i];
            if (!old)
                continue;
            size_t j = old & (more - 1);
            while (grown[j])
                j = (j + 1) & (more - 1);
            grown[j] = old;
        }
        free(index->mentions);
        index->mentions = grown;
        index->mention_slots = more;
    }
    size_t mask = index->mention_slots - 1;
    size_t j = h & mask;
    while (index->mentions[j] && index->mentions[j] != h)
        j = (j + 1) & mask;
    if (!index->mentions[j]) {
        index->mentions[j] = h;
        ++index->mention_count;
    }
    return true;
}

// Every "&" reference in text, up to and including its ";".
bool add_mentions(entity_index *index, const char *text) {
    if (!text)
        return true;
    for (const char *p = strchr(text, '&'); p; p = strchr(p + 1, '&')) {
        const char *semicolon = strchr(p + 1, ';');
        if (!semicolon)
            break; // no later reference can end either
        if (!add_mention(index, hash_bytes(p + 1, static_cast<size_t>(semicolon - p))))
            return false;
    }
    return true;
}

bool add_name(entity_index *index, char **list, size_t pair) {
    size_t length;
    if (!simple_name(list[2 * pair], &length))
        return false;
    if (2 * (index->name_count + 1) > index->name_slots) {
        size_t more = index->name_slots ? 2 * index->name_slots : 64;
        auto *grown = static_cast<uint32_t *>(budget_calloc(index->budget, more, sizeof(uint32_t)));
        if (!grown)
            return false;
        for (size_t i = 0; i < index->name_slots; ++i) {
            uint32_t entry = index->names[i];
            if (!entry)
                continue;
            const char *name = list[2 * (entry - 1)];
            size_t j = hash_bytes(name, strlen(name)) & (more - 1);
            while (grown[j])
                j = (j + 1) & (more - 1);
            grown[j] = entry;
        }
        free(index->names);
        index->names = grown;
        index->name_slots = more;
    }
    if (pair >= UINT32_MAX)
        return false;
    // Of two pairs with one name the first is the one found; a later one is
    // never looked up, so it needs no slot.
    if (entity_index_find(index, list, list[2 * pair]) >= 0)
        return true;
    size_t mask = index->name_slots - 1;
    size_t j = hash_bytes(list[2 * pair], length) & mask;
    while (index->names[j])
        j = (j + 1) & mask;
    index->names[j] = static_cast<uint32_t>(pair + 1);
    ++index->name_count;
    if (length > index->longest_name)
        index->longest_name = length;
    return true;
}

} // namespace

bool entity_index_sync(entity_index *index, char **list) {
    if (index->unusable || !list)
        return false;
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
    if (!index->name_slots)
        return -1;
    // Every name ends at its only ";", so the text's first ";" says which
    // name alone could begin it; no name is longer than the longest one.
    size_t length = 0;
    while (length < index->longest_name && text[length] && text[length] != ';')
        ++length;
    if (length == index->longest_name || text[length] != ';')
        return -1;
    ++length;
    size_t mask = index->name_slots - 1;
    for (size_t j = hash_bytes(text, length) & mask; index->names[j]; j = (j + 1) & mask) {
        size_t pair = index->names[j] - 1;
        const char *name = list[2 * pair];
        if (strncmp(name, text, length) == 0 && name[length] == '\0')
            return static_cast<ptrdiff_t>(pair);
    }
    return -1;
}

bool entity_index_mentions(const entity_index *index, const char *name) {
    // A reference is recorded up to its first ";", and a text that begins
    // with name has that ";" where name has its first one. A name without
    // one could begin a reference of any length: the index cannot tell.
    const char *semicolon = strchr(name, ';');
    if (!semicolon)
        return true;
    if (!index->mention_slots)
        return false;
    uint64_t h = hash_bytes(name, static_cast<size_t>(semicolon - name) + 1);
    size_t mask = index->mention_slots - 1;
    for (size_t j = h & mask; index->mentions[j]; j = (j + 1) & mask)
        if (index->mentions[j] == h)
            return true;
    return false;
}

void entity_index_release(entity_index *index) {
    free(index->names);
    free(index->mentions);
    *index = entity_index{};
}
