// Constant-time linking of the children the parser appends; see
// child_appends.h for why this matches the general insertion.
#include "xml/child_appends.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/document.h"

namespace {

size_t hash_of(const ezxml *parent, const char *name) {
    // FNV-1a over the name, mixed with the parent's address.
    uint64_t h = 14695981039346656037ull;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; ++p)
        h = (h ^ *p) * 1099511628211ull;
    h ^= reinterpret_cast<uintptr_t>(parent);
    // A full avalanche, so that names differing in one character spread
    // over the whole table rather than into runs of neighbouring slots.
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return static_cast<size_t>(h);
}

// The slot of (parent, name): the one that holds it, or the free slot where
// it would go.
last_of_name *slot_for(child_appends *a, const ezxml *parent, const char *name, size_t hash) {
    size_t mask = a->slot_capacity - 1;
    for (size_t i = hash & mask;; i = (i + 1) & mask) {
        last_of_name *slot = &a->slots[i];
        if (!slot->element || (slot->hash == hash && slot->element->parent == parent &&
                               same_string(slot->element->name, name)))
            return slot;
    }
}

// Empties a slot, moving later slots of the same probe run back so that
// every entry stays reachable from where its hash puts it.
void remove_slot(child_appends *a, last_of_name *slot) {
    size_t mask = a->slot_capacity - 1;
    size_t hole = static_cast<size_t>(slot - a->slots);
    for (size_t i = (hole + 1) & mask; a->slots[i].element; i = (i + 1) & mask) {
        size_t home = a->slots[i].hash & mask;
        // The entry at i may fill the hole unless its home lies in (hole, i].
        bool home_after_hole = hole <= i ? (home > hole && home <= i) : (home > hole || home <= i);
        if (!home_after_hole) {
            a->slots[hole] = a->slots[i];
            hole = i;
        }
    }
    a->slots[hole] = last_of_name{};
    --a->used;
}

// Records element, a child of the frame's parent, as the last child of its
// name.
void set_last_of_name(child_appends *a, append_frame *frame, ezxml *element) {
    size_t hash = hash_of(element->parent, element->name);
    last_of_name *slot = slot_for(a, element->parent, element->name, hash);
    if (!slot->element) {
        slot->hash = hash;
        ++a->used;
        ++frame->names;
    }
    slot->element = element;
}

bool grow_slots(child_appends *a) {
    size_t capacity = a->slot_capacity ? a->slot_capacity * 2 : 64;
    auto *slots =
        static_cast<last_of_name *>(budget_calloc(a->budget, capacity, sizeof(last_of_name)));
    if (!slots)
        return false;
    last_of_name *old = a->slots;
    size_t old_capacity = a->slot_capacity;
    a->slots = slots;
    a->slot_capacity = capacity;
    // The entries are distinct: each goes to the first free slot from where
    // its hash puts it, without a look at its element.
    size_t mask = capacity - 1;
    for (size_t i = 0; i < old_capacity; ++i) {
        if (!old[i].element)
            continue;
        size_t j = old[i].hash & mask;
        while (slots[j].element)
            j = (j + 1) & mask;
        slots[j] = old[i];
    }
    free(old);
    return true;
}

bool grow_listing(child_appends *a) {
    size_t capacity = a->listing_capacity ? a->listing_capacity * 2 : 64;
    auto *grown = static_cast<listed_name *>(
        budget_realloc(a->budget, a->listing, capacity * sizeof(listed_name)));
    if (!grown)
        return false;
    a->listing = grown;
    a->listing_capacity = capacity;
    return true;
}

append_frame *top_frame(child_appends *a, const ezxml *parent) {
    if (a->given_up || a->depth == 0 || a->frames[a->depth - 1].parent != parent)
        return nullptr;
    return &a->frames[a->depth - 1];
}

} // namespace

bool appends_grow_frames(child_appends *a) {
    size_t capacity = a->frame_capacity ? a->frame_capacity * 2 : 64;
    auto *frames = static_cast<append_frame *>(
        budget_realloc(a->budget, a->frames, capacity * sizeof(append_frame)));
    if (!frames) {
        a->given_up = true;
        return false;
    }
    a->frames = frames;
    a->frame_capacity = capacity;
    return true;
}

void appends_unindex(child_appends *a, const append_frame &frame) {
    // No child is added to a closed element: its entries (one per name, the
    // entries of its first-of-each-name chain) leave the table. When they
    // are all it holds, the table goes as a whole.
    if (frame.names == a->used) {
        free(a->slots);
        a->slots = nullptr;
        a->slot_capacity = a->used = 0;
        return;
    }
    ezxml *element = frame.parent;
    for (ezxml *entry = element->child; entry; entry = entry->sibling) {
        last_of_name *slot = slot_for(a, element, entry->name, hash_of(element, entry->name));
        if (slot->element)
            remove_slot(a, slot);
    }
}

ezxml *appends_add_child(child_appends *a, ezxml *parent, char *name, size_t offset,
                         size_t expected_records) {
    append_frame *frame = top_frame(a, parent);
    // Only a child that goes behind all others, under a parent whose
    // children all came through here, can skip the walk.
    bool appendable =
        frame && name && (frame->last ? frame->last->offset <= offset : !parent->child);
    // The stack may need room for two entries: the first name of a parent
    // that turns out to have more than one, and the child's own.
    if (appendable && a->listing_top + 2 > a->listing_capacity && !grow_listing(a))
        a->given_up = true;
    // The table may need room for a parent's whole list and the child.
    bool list_full =
        appendable && frame->listed && a->listing_top - frame->listed_from >= listed_names;
    if (appendable && (frame->indexed || list_full) &&
        2 * (a->used + listed_names + 1) > a->slot_capacity && !grow_slots(a))
        a->given_up = true;
    if (!appendable || a->given_up) {
        if (frame)
            a->given_up = true; // its record of the parent's chains is stale now
        // A record of its own, as ezxml_add_child makes it.
        if (!budget_charge(a->budget, allocation_cost(sizeof(record_header) + sizeof(ezxml))))
            return nullptr;
        return ezxml_add_child(parent, name, offset);
    }

    ezxml *x = pool_element(&a->records, expected_records);
    if (!x)
        return nullptr;
    x->name = name;
    x->attributes = EZXML_NIL;
    x->text = empty_text();
    x->offset = offset;
    x->parent = parent;
    set_record_linked(x, true);

    if (!frame->last) {
        parent->child = x;
        frame->last_entry = x;
        frame->last = x;
        return x;
    }
    ezxml *before = frame->last;
    before->ordered = x;
    frame->last = x;
    if (names_equal(before->name, name)) {
        // The child before has the same name, so it is the last of it.
        before->next = x;
        if (frame->listed)
            a->listing[frame->last_listing].last = x;
        else if (frame->indexed)
            set_last_of_name(a, frame, x);
        return x;
    }
    if (!frame->listed && !frame->indexed) {
        // A second name: from now on the list answers for this parent,
        // starting with the one name its children had so far.
        a->listing[a->listing_top++] = {before->name, before};
        frame->listed = true;
    }
    if (frame->listed) {
        for (size_t i = frame->listed_from; i < a->listing_top; ++i) {
            listed_name &entry = a->listing[i];
            if (same_string(entry.name, name)) {
                entry.last->next = x;
                entry.last = x;
                frame->last_listing = i;
                return x;
            }
        }
        frame->last_entry->sibling = x; // the first of its name
        frame->last_entry = x;
        if (a->listing_top - frame->listed_from < listed_names) {
            frame->last_listing = a->listing_top;
            a->listing[a->listing_top++] = {name, x};
            return x;
        }
        // Too many names for a list: the table takes them over.
        for (size_t i = frame->listed_from; i < a->listing_top; ++i)
            set_last_of_name(a, frame, a->listing[i].last);
        set_last_of_name(a, frame, x);
        a->listing_top = frame->listed_from;
        frame->listed = false;
        frame->indexed = true;
        return x;
    }

    size_t hash = hash_of(parent, name);
    last_of_name *slot = slot_for(a, parent, name, hash);
    if (slot->element) {
        slot->element->next = x; // the last of its name so far
    } else {
        frame->last_entry->sibling = x; // the first of its name
        frame->last_entry = x;
        slot->hash = hash;
        ++a->used;
        ++frame->names;
    }
    slot->element = x;
    return x;
}

void appends_release(child_appends *a) {
    free(a->frames);
    free(a->slots);
    free(a->listing);
    pool_release(&a->records);
    *a = child_appends{};
}
