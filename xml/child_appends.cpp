// Constant-time linking of the children the parser appends; see
// child_appends.h for why this matches the general insertion.
#include "xml/child_appends.h"

#include <assert.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/document.h"
#include "xml/hash_table.h"
#include "xml/tree.h"

namespace {

// A deferred child's number among its parent's children fits the low half
// of its key below this bit, which marks a key whose child is grouped.
constexpr uint64_t grouped_bit = uint64_t{1} << 31;
constexpr uint64_t number_mask = grouped_bit - 1;
constexpr size_t most_deferred = static_cast<size_t>(number_mask);

uint64_t deferred_key(const char *name, size_t number) {
    return (hash_string(name) & 0xFFFFFFFF00000000ull) | number;
}

bool grow_listing(child_appends *a) {
    size_t capacity = a->listing_capacity ? a->listing_capacity * 2 : 64;
    auto *grown = static_cast<listed_name *>(
        budget_realloc(a->budget, a->listing, capacity * sizeof(listed_name)));
    if (!grown) {
        return false;
    }
    a->listing = grown;
    a->listing_capacity = capacity;
    return true;
}

// Room on the deferred stack for `more` entries above its top.
bool reserve_deferred(child_appends *a, size_t more) {
    if (more <= a->deferred_capacity - a->deferred_top) {
        return true;
    }
    size_t capacity = a->deferred_capacity ? a->deferred_capacity * 2 : 256;
    while (capacity - a->deferred_top < more) {
        capacity *= 2;
    }
    auto *grown = static_cast<deferred_child *>(
        budget_realloc(a->budget, a->deferred, capacity * sizeof(deferred_child)));
    if (!grown) {
        return false;
    }
    a->deferred = grown;
    a->deferred_capacity = capacity;
    return true;
}

append_frame *top_frame(child_appends *a, const ezxml *parent) {
    if (a->given_up || a->depth == 0 || a->frames[a->depth - 1].parent != parent) {
        return nullptr;
    }
    return &a->frames[a->depth - 1];
}

// ---------------------------------------------- linking deferred children

// Sorts keys[0..n) in place (heap sort: no memory, n log n). key(i) is a
// reference to the i-th key.
template <typename Key> void heap_sort(Key key, size_t n) {
    auto sift_down = [&](size_t root, size_t end) {
        for (;;) {
            size_t child = 2 * root + 1;
            if (child >= end) {
                return;
            }
            if (child + 1 < end && key(child) < key(child + 1)) {
                ++child;
            }
            if (!(key(root) < key(child))) {
                return;
            }
            uint64_t swapped = key(root);
            key(root) = key(child);
            key(child) = swapped;
            root = child;
        }
    };
    for (size_t i = n / 2; i-- > 0;) {
        sift_down(i, n);
    }
    for (size_t end = n; end-- > 1;) {
        uint64_t top = key(0);
        key(0) = key(end);
        key(end) = top;
        sift_down(0, end);
    }
}

// Sorts keys[0..n) by their high halves, stably (so keys of one hash stay
// in document order), through spare[0..n): a radix sort of four passes of
// eight bits, each reading and writing both arrays in order.
void radix_sort_by_hash(uint64_t *keys, uint64_t *spare, size_t n) {
    size_t counts[4][256] = {};
    for (size_t i = 0; i < n; ++i) {
        for (int digit = 0; digit < 4; ++digit) {
            ++counts[digit][(keys[i] >> (32 + 8 * digit)) & 0xFF];
        }
    }
    uint64_t *from = keys;
    uint64_t *to = spare;
    for (int digit = 0; digit < 4; ++digit) {
        size_t *count = counts[digit];
        if (count[(from[0] >> (32 + 8 * digit)) & 0xFF] == n) {
            continue; // every key has the same digit: the order stands
        }
        size_t position = 0;
        for (size_t b = 0; b < 256; ++b) {
            size_t c = count[b];
            count[b] = position;
            position += c;
        }
        for (size_t i = 0; i < n; ++i) {
            to[count[(from[i] >> (32 + 8 * digit)) & 0xFF]++] = from[i];
        }
        uint64_t *swap = from;
        from = to;
        to = swap;
    }
    if (from != keys) {
        memcpy(keys, from, n * sizeof *keys);
    }
}

// The child of a note, whose pointer may carry the mark of a first of its
// name in its lowest bit (records are aligned).
ezxml *child_of(const deferred_child &note) {
    return reinterpret_cast<ezxml *>(reinterpret_cast<uintptr_t>(note.child) & ~uintptr_t{1});
}

// Links the name chains of the n children of notes[0..n) (their notes in
// document order), whose keys sorted by hash are key(0..n). leader(i) marks
// child number i as the first of its name; is_leader(i) tells.
template <typename Key, typename Mark, typename Marked>
void link_sorted(deferred_child *notes, size_t n, Key key, Mark leader, Marked is_leader) {
    for (size_t s = 0; s < n;) {
        uint64_t hash = key(s) >> 32;
        size_t e = s + 1;
        while (e < n && key(e) >> 32 == hash) {
            ++e;
        }
        if (e == s + 1) {
            leader(key(s) & number_mask); // the one child of its name: the usual case
            s = e;
            continue;
        }
        // Children whose names share a hash, in document order: each that is
        // not grouped yet begins its name's group, and takes along the later
        // ones of the same name.
        for (size_t i = s; i < e; ++i) {
            if (key(i) & grouped_bit) {
                continue;
            }
            size_t first = key(i) & number_mask;
            leader(first);
            ezxml *last = child_of(notes[first]);
            for (size_t j = i + 1; j < e; ++j) {
                if (key(j) & grouped_bit) {
                    continue;
                }
                ezxml *same = child_of(notes[key(j) & number_mask]);
                if (!names_equal(same->name, last->name)) {
                    continue;
                }
                append_same_name(last, same);
                last = same;
                key(j) |= grouped_bit;
            }
        }
        s = e;
    }
    // The first-of-each-name chain, in document order from the first child.
    ezxml *last_entry = nullptr;
    for (size_t i = 0; i < n; ++i) {
        if (!is_leader(i)) {
            continue;
        }
        ezxml *child = child_of(notes[i]);
        append_first_of_name(last_entry, child);
        last_entry = child;
    }
}

} // namespace

void appends_start(child_appends *appends, parse_budget *budget) {
    *appends = child_appends{};
    appends->budget = budget;
    appends->records.budget = budget;
}

bool appends_grow_frames(child_appends *a) {
    size_t capacity = a->frame_capacity ? a->frame_capacity * 2 : 64;
    auto *frames = static_cast<append_frame *>(
        budget_realloc(a->budget, a->frames, capacity * sizeof(append_frame)));
    if (!frames) {
        appends_release(a);
        a->given_up = true;
        return false;
    }
    a->frames = frames;
    a->frame_capacity = capacity;
    return true;
}

void appends_link_deferred(child_appends *a, const append_frame &frame) {
    size_t n = a->deferred_top - frame.deferred_from;
    assert(frame.chains == name_chains::deferred && n == frame.children && n > listed_names);
    // The chains are linked anew for every child, the ones that were listed
    // before the parent had too many names included.
    for (size_t i = 0; i < n; ++i) {
        clear_name_links(a->deferred[frame.deferred_from + i].child);
    }

    constexpr size_t radix_from = 64;
    if (n >= radix_from && reserve_deferred(a, n)) {
        // The keys and a spare array for the sort stand above the stack's
        // top; the spare array then holds the mark of each first of its name.
        deferred_child *notes = a->deferred + frame.deferred_from;
        auto *keys = reinterpret_cast<uint64_t *>(a->deferred + a->deferred_top);
        uint64_t *spare = keys + n;
        for (size_t i = 0; i < n; ++i) {
            keys[i] = notes[i].key;
        }
        radix_sort_by_hash(keys, spare, n);
        auto *leaders = reinterpret_cast<unsigned char *>(spare);
        memset(leaders, 0, (n + 7) / 8);
        link_sorted(
            notes, n, [&](size_t i) -> uint64_t & { return keys[i]; },
            [&](size_t i) { leaders[i / 8] |= static_cast<unsigned char>(1u << (i % 8)); },
            [&](size_t i) { return (leaders[i / 8] >> (i % 8)) & 1; });
        return;
    }
    // Without memory to spare (or for few children): the keys are sorted
    // where they stand, and the mark of a first of its name is the lowest
    // bit of its note's pointer (records are aligned), cleared again.
    deferred_child *notes = a->deferred + frame.deferred_from;
    auto key = [&](size_t i) -> uint64_t & { return notes[i].key; };
    heap_sort(key, n);
    auto marked = [&](size_t i) { return reinterpret_cast<uintptr_t>(notes[i].child) & 1; };
    link_sorted(
        notes, n, key,
        [&](size_t i) {
            notes[i].child =
                reinterpret_cast<ezxml *>(reinterpret_cast<uintptr_t>(notes[i].child) | 1);
        },
        marked);
    for (size_t i = 0; i < n; ++i) {
        notes[i].child = child_of(notes[i]);
    }
}

ezxml *appends_add_child(child_appends *a, ezxml *parent, char *name, size_t offset,
                         size_t expected_records) {
    append_frame *frame = top_frame(a, parent);
    // Only a child that goes behind all others, under a parent whose
    // children all came through here, can skip the walk.
    bool appendable =
        frame && name && (frame->last ? frame->last->offset <= offset : !parent->child);
    if (appendable && frame->children >= most_deferred) {
        appendable = false;
    }
    // The listing may need room for two entries: the first name of a parent
    // that turns out to have more than one, and the child's own. A parent
    // whose names no longer fit the listing may need its children noted.
    if (appendable && a->listing_top + 2 > a->listing_capacity && !grow_listing(a)) {
        appendable = false;
    }
    bool list_full = appendable && frame->chains == name_chains::listed &&
                     a->listing_top - frame->listed_from >= listed_names;
    size_t notes_needed = frame && frame->chains == name_chains::deferred ? 1
                          : list_full                                     ? frame->children + 1
                                                                          : 0;
    if (appendable && notes_needed && !reserve_deferred(a, notes_needed)) {
        appendable = false;
    }
    if (!appendable) {
        // Memory ran out, or the child does not go behind the others: the
        // frames' records of their parents' chains would be stale from now
        // on, so every chain is linked whole and every later child linked
        // the general way, with a record of its own as ezxml_add_child
        // makes it.
        if (a->depth && !a->given_up) {
            appends_release(a);
            a->given_up = true;
        }
        if (!budget_charge(a->budget, allocation_cost(sizeof(record_header) + sizeof(ezxml)))) {
            return nullptr;
        }
        return ezxml_add_child(parent, name, offset);
    }

    ezxml *x = pool_element(&a->records, expected_records);
    if (!x) {
        return nullptr;
    }
    x->name = name;
    x->attributes = EZXML_NIL;
    x->text = empty_text();
    ezxml *before = frame->last;
    append_in_order(parent, before, x, offset);
    frame->last = x;
    size_t number = frame->children++;

    switch (frame->chains) {
    case name_chains::one_name:
        if (!before) {
            append_first_of_name(nullptr, x);
            frame->last_entry = x;
            return x;
        }
        if (names_equal(before->name, name)) {
            // The child before has the same name, so it is the last of it.
            append_same_name(before, x);
            return x;
        }
        // A second name: from now on the listing answers for this parent,
        // starting with the one name its children had so far.
        a->listing[a->listing_top++] = {before->name, before};
        frame->chains = name_chains::listed;
        [[fallthrough]];
    case name_chains::listed:
        for (size_t i = frame->listed_from; i < a->listing_top; ++i) {
            listed_name &entry = a->listing[i];
            if (same_string(entry.name, name)) {
                append_same_name(entry.last, x);
                entry.last = x;
                frame->last_listing = i;
                return x;
            }
        }
        if (a->listing_top - frame->listed_from < listed_names) {
            append_first_of_name(frame->last_entry, x);
            frame->last_entry = x;
            frame->last_listing = a->listing_top;
            a->listing[a->listing_top++] = {name, x};
            return x;
        }
        // Too many names for the listing: every child so far is noted, and
        // the parent's name chains wait for it to close.
        assert(a->deferred_capacity - a->deferred_top >= frame->children);
        {
            size_t k = 0;
            for (ezxml *c = parent->child; c; c = c->ordered, ++k) {
                a->deferred[a->deferred_top++] = {c, deferred_key(c->name, k)};
            }
            assert(k == frame->children);
        }
        a->listing_top = frame->listed_from;
        frame->last_entry = nullptr;
        frame->chains = name_chains::deferred;
        return x;
    case name_chains::deferred:
        assert(a->deferred_top < a->deferred_capacity);
        a->deferred[a->deferred_top++] = {x, deferred_key(name, number)};
        return x;
    }
    return x;
}

void appends_release(child_appends *a) {
    // Every open element whose name chains wait gets them now, innermost
    // first (their notes stand in that order on the stack).
    if (!a->given_up) {
        for (size_t d = a->depth; d-- > 0;) {
            const append_frame &frame = a->frames[d];
            if (frame.chains == name_chains::deferred) {
                appends_link_deferred(a, frame);
            }
            a->deferred_top = frame.deferred_from;
        }
    }
    free(a->frames);
    free(a->listing);
    free(a->deferred);
    pool_release(&a->records);
    parse_budget *budget = a->budget;
    *a = child_appends{};
    a->budget = a->records.budget = budget;
}
