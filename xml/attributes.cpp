// Attribute lists: the lists the parser makes, adding, replacing and
// removing pairs, and freeing lists, with the ownership of every string kept
// exact (see attributes.h).
#include "xml/attributes.h"

char **list_in_one_block(char *const *pairs, const char *owners, size_t count,
                         parse_budget *budget) {
    assert(count > 0 && !pairs[2 * count] && strlen(owners) == count);
    size_t pointers = (2 * count + 2) * sizeof(char *);
    auto *list = static_cast<char **>(budget_malloc(budget, pointers + count + 1));
    if (!list) {
        return nullptr;
    }
    memcpy(list, pairs, (2 * count + 1) * sizeof(char *));
    char *ownership = reinterpret_cast<char *>(list) + pointers;
    memcpy(ownership, owners, count + 1);
    list[2 * count + 1] = ownership;
    assert(ownership_inside_list(list, count));
    return list;
}

namespace {

// Hands a string over to the library's allocator after all.
void release(const char *s) {
    free(const_cast<char *>(s));
}

// Appends a pair whose name is n to the list of e, with its value slot
// still to be filled. Returns the pair's index, or -1 when memory ran out
// (the list is then unchanged in meaning).
long append_pair(ezxml *e, const char *n, size_t pairs, bool owning) {
    char **list = e->attributes;
    char *ownership;
    if (!list || list == EZXML_NIL) {
        list = static_cast<char **>(malloc(4 * sizeof(char *)));
        ownership = static_cast<char *>(malloc(2));
        if (!list || !ownership) {
            free(list);
            free(ownership);
            return -1;
        }
        pairs = 0;
    } else if (ownership_inside_list(list, pairs)) {
        // Growing the block would move the string with it and leave no room
        // for the new pair's byte: the string gets a block of its own.
        ownership = static_cast<char *>(malloc(pairs + 2));
        if (!ownership) {
            return -1;
        }
        memcpy(ownership, list[2 * pairs + 1], pairs + 1);
        char **grown = static_cast<char **>(realloc(list, (2 * pairs + 4) * sizeof(char *)));
        if (!grown) {
            free(ownership);
            return -1;
        }
        list = e->attributes = grown;
    } else {
        char *old_ownership = list[2 * pairs + 1];
        char **grown = static_cast<char **>(realloc(list, (2 * pairs + 4) * sizeof(char *)));
        if (!grown) {
            return -1;
        }
        list = e->attributes = grown;
        ownership = static_cast<char *>(realloc(old_ownership, pairs + 2));
        if (!ownership) {
            return -1; // the list is larger, its contents unchanged
        }
    }
    list[2 * pairs] = const_cast<char *>(n);
    list[2 * pairs + 1] = empty_text();
    list[2 * pairs + 2] = nullptr;
    list[2 * pairs + 3] = ownership;
    ownership[pairs] = owning ? static_cast<char>(pair_name_owned) : pair_owns_nothing;
    ownership[pairs + 1] = '\0';
    e->attributes = list;
    return static_cast<long>(pairs);
}

} // namespace

extern "C" void ezxml_free_attr(char **attr) {
    if (!attr || attr == EZXML_NIL) {
        return;
    }
    size_t pairs = pair_count(attr);
    char *ownership = attr[2 * pairs + 1];
    if (ownership) {
        for (size_t k = 0; k < pairs && ownership[k]; ++k) {
            unsigned char byte = static_cast<unsigned char>(ownership[k]);
            if (byte & pair_name_owned) {
                free(attr[2 * k]);
            }
            if (byte & pair_value_owned) {
                free(attr[2 * k + 1]);
            }
        }
    }
    if (!ownership_inside_list(attr, pairs)) {
        free(ownership);
    }
    free(attr);
}

extern "C" ezxml *ezxml_set_attr(ezxml *xml, const char *name, const char *value) {
    // A null name could not be stored: it would end the list.
    if (!xml || !name) {
        return nullptr;
    }
    bool owning = xml->flags & EZXML_ARGS_OWNED;
    char **list = xml->attributes;

    size_t pairs = 0;
    size_t found = static_cast<size_t>(-1);
    if (list) {
        for (; list[2 * pairs]; ++pairs) {
            if (found == static_cast<size_t>(-1) && strcmp(list[2 * pairs], name) == 0) {
                found = pairs;
            }
        }
    }

    size_t k;
    if (found == static_cast<size_t>(-1)) {
        // Removing what is not there changes nothing, the request to own
        // included.
        if (!value) {
            return xml;
        }
        long added = append_pair(xml, name, pairs, owning);
        if (added < 0) {
            // Out of memory: nothing changed; what was handed over is
            // released so that it does not leak.
            if (owning) {
                release(name);
                release(value);
                xml->flags &= static_cast<uint16_t>(~EZXML_ARGS_OWNED);
            }
            return nullptr;
        }
        k = static_cast<size_t>(added);
        pairs = k + 1;
        list = xml->attributes;
    } else {
        k = found;
    }

    char *ownership = list[2 * pairs + 1];
    unsigned char byte = static_cast<unsigned char>(ownership[k]);
    if (found != static_cast<size_t>(-1) && owning) {
        // The list keeps the name string it has; the one handed over is
        // released, unless it is that very string, which the list then owns.
        if (name != list[2 * k]) {
            release(name);
        } else {
            byte |= pair_name_owned;
        }
    }
    char *old_value = list[2 * k + 1];
    if (value == old_value) {
        // The very string the pair already holds: nothing to release. Handed
        // over, the list owns it from now on; otherwise its ownership stays
        // as it is.
        if (owning) {
            byte |= pair_value_owned;
        }
    } else {
        if (byte & pair_value_owned) {
            free(old_value);
        }
        if (owning) {
            byte |= pair_value_owned;
        } else {
            byte &= static_cast<unsigned char>(~pair_value_owned);
            if (!(byte & (pair_name_owned | pair_value_owned))) {
                byte = pair_owns_nothing;
            }
        }
    }

    if (value) {
        list[2 * k + 1] = const_cast<char *>(value);
        ownership[k] = static_cast<char>(byte);
    } else {
        if (byte & pair_name_owned) {
            free(list[2 * k]);
        }
        // Later pairs, the terminator and the ownership string move down
        // one pair; the ownership bytes behind k and the NUL move down one.
        bool inside = ownership_inside_list(list, pairs);
        memmove(list + 2 * k, list + 2 * k + 2, (2 * (pairs - k - 1) + 2) * sizeof(char *));
        memmove(ownership + k, ownership + k + 1, pairs - k);
        if (inside) {
            // A string inside the block stays right behind its pointer,
            // which has moved down one pair.
            char *moved = reinterpret_cast<char *>(list + 2 * pairs);
            memmove(moved, ownership, pairs);
            list[2 * pairs - 1] = moved;
        }
    }
    xml->flags &= static_cast<uint16_t>(~EZXML_ARGS_OWNED);
    return xml;
}
