// Internal: the one owner of attribute lists.
//
// An element's attribute list is EZXML_NIL (no attributes, shared, never
// written or freed) or a heap array: name, value, name, value, ..., a null
// pointer, and the ownership string: one byte per pair in pair order and a
// NUL (ownership.h says what the bytes mean). The string has a heap block
// of its own, or stands inside the list's block right behind the pointer
// that leads to it (the parser makes its lists so: one block instead of
// two). Everything that builds, changes or frees a list, and knows where
// its ownership string lives, is here.
#ifndef EZXML_ATTRIBUTES_H
#define EZXML_ATTRIBUTES_H

#include <stdlib.h>
#include <string.h>

#include "xml/document.h"
#include "xml/ezxml.h"
#include "xml/ownership.h"
#include "xml/parse_budget.h"

// The number of pairs of a list (not EZXML_NIL).
inline size_t pair_count(char **list) {
    size_t pairs = 0;
    while (list[2 * pairs]) {
        ++pairs;
    }
    return pairs;
}

// Whether the ownership string of a list of `pairs` pairs stands in the
// list's own block, right behind the pointer that leads to it. A string of
// its own can never start there, since the list's block ends at that
// pointer.
inline bool ownership_inside_list(char **list, size_t pairs) {
    return list[2 * pairs + 1] == reinterpret_cast<char *>(list + 2 * pairs + 2);
}

// A list of `count` pairs (count > 0) in one block: the pointers of
// pairs[0..2 count], a null, then a copy of the ownership string owners
// (count bytes and a NUL) right behind them. Null when no memory can be had.
char **list_in_one_block(char *const *pairs, const char *owners, size_t count,
                         parse_budget *budget);

// The parser's builder of one start tag's attribute list while it is being
// read. Its layout is
// always whole (pairs, null, ownership string). The first pairs stand in
// room of its own, so that a tag with few attributes costs one list and one
// ownership string of exactly their size, made when the tag is complete;
// beyond that room the arrays move to the heap and grow geometrically. The
// list an element ends up with is the same as with growth by one pair at a
// time.
struct attribute_builder {
    static constexpr size_t local_pairs = 16;
    char *local_list[2 * local_pairs + 2];
    char local_owners[local_pairs + 1];
    char **list = local_list;
    char *owners = local_owners;
    size_t count = 0;
    size_t list_capacity = 2 * local_pairs + 2;
    size_t owners_capacity = local_pairs + 1;
    bool on_heap = false;
    parse_budget *budget = nullptr; // charged for the list's blocks

    bool add(char *name) {
        size_t k = count;
        if (2 * k + 4 > list_capacity || k + 2 > owners_capacity) {
            size_t more_list = 2 * list_capacity;
            size_t more_owners = 2 * owners_capacity;
            auto *grown_list = static_cast<char **>(
                on_heap ? budget_realloc(budget, list, more_list * sizeof(char *))
                        : budget_malloc(budget, more_list * sizeof(char *)));
            if (!grown_list) {
                return false;
            }
            if (!on_heap) {
                memcpy(grown_list, list, list_capacity * sizeof(char *));
            }
            list = grown_list;
            list_capacity = more_list;
            auto *grown_owners =
                static_cast<char *>(on_heap ? budget_realloc(budget, owners, more_owners)
                                            : budget_malloc(budget, more_owners));
            if (!grown_owners) {
                if (!on_heap) { // the list holds nothing of its own yet
                    free(list);
                    list = local_list;
                    list_capacity = 2 * local_pairs + 2;
                }
                return false;
            }
            if (!on_heap) {
                memcpy(grown_owners, owners, owners_capacity);
            }
            owners = grown_owners;
            owners_capacity = more_owners;
            on_heap = true;
        }
        owners[k] = pair_owns_nothing;
        owners[k + 1] = '\0';
        list[2 * k] = name;
        list[2 * k + 1] = empty_text();
        list[2 * k + 2] = nullptr;
        list[2 * k + 3] = owners;
        ++count;
        return true;
    }

    // Hands the list over for the element: EZXML_NIL when there is none,
    // null when no memory could be had (the list is then still this one's).
    char **take() {
        if (count == 0) {
            return EZXML_NIL;
        }
        char **taken = list;
        if (!on_heap) {
            taken = list_in_one_block(list, owners, count, budget);
            if (!taken) {
                return nullptr;
            }
        }
        forget();
        return taken;
    }

    void release() {
        if (on_heap) {
            ezxml_free_attr(list);
        } else {
            for (size_t k = 0; k < count; ++k) {
                if (owners[k] & pair_value_owned) {
                    free(list[2 * k + 1]);
                }
            }
        }
        forget();
    }

  private:
    void forget() {
        list = local_list;
        owners = local_owners;
        count = 0;
        list_capacity = 2 * local_pairs + 2;
        owners_capacity = local_pairs + 1;
        on_heap = false;
    }
};

#endif
