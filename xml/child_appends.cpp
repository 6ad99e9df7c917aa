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
        if (!slot->parent || (slot->hash == hash && slot->parent == parent &&
                              strcmp(slot->element->name, name) == 0))
            return slot;
    }
}

bool grow_slots(child_appends *a) {
    size_t capacity = a->slot_capacity ? a->slot_capacity * 2 : 64;
    auto *slots = static_cast<last_of_name *>(calloc(capacity, sizeof(last_of_name)));
    if (!slots)
        return false;
    last_of_name *old = a->slots;
    size_t old_capacity = a->slot_capacity;
    a->slots = slots;
    a->slot_capacity = capacity;
    for (size_t i = 0; i < old_capacity; ++i)
        if (old[i].parent)
            *slot_for(a, old[i].parent, old[i].element->name, old[i].hash) = old[i];
    free(old);
    return true;
}

append_frame *top_frame(child_appends *a, const ezxml *parent) {
    if (a->given_up || a->depth == 0 || a->frames[a->depth - 1].parent != parent)
        return nullptr;
    return &a->frames[a->depth - 1];
}

} // namespace

void appends_enter(child_appends *a, ezxml *element) {
    if (a->given_up)
        return;
    if (a->depth == a->frame_capacity) {
        size_t capacity = a->frame_capacity ? a->frame_capacity * 2 : 64;
        auto *frames =
            static_cast<append_frame *>(realloc(a->frames, capacity * sizeof(append_frame)));
        if (!frames) {
            a->given_up = true;
            return;
        }
        a->frames = frames;
        a->frame_capacity = capacity;
    }
    a->frames[a->depth++] = {element, nullptr, nullptr};
}

void appends_leave(child_appends *a, ezxml *element) {
    if (!a->given_up && a->depth > 0 && a->frames[a->depth - 1].parent == element)
        --a->depth;
}

ezxml *appends_add_child(child_appends *a, ezxml *parent, char *name, size_t offset) {
    append_frame *frame = top_frame(a, parent);
    // Only a child that goes behind all others, under a parent whose
    // children all came through here, can skip the walk.
    bool appendable =
        frame && name && (frame->last ? frame->last->offset <= offset : !parent->child);
    if (appendable && 2 * (a->used + 1) > a->slot_capacity && !grow_slots(a))
        a->given_up = true;
    if (!appendable || a->given_up) {
        if (frame)
            a->given_up = true; // its record of the parent's chains is stale now
        return ezxml_add_child(parent, name, offset);
    }

    auto *x = static_cast<ezxml *>(calloc(1, sizeof(ezxml)));
    if (!x)
        return nullptr;
    x->name = name;
    x->attributes = EZXML_NIL;
    x->text = empty_text();
    x->offset = offset;
    x->parent = parent;

    size_t hash = hash_of(parent, name);
    last_of_name *slot = slot_for(a, parent, name, hash);
    if (!frame->last) {
        parent->child = x;
        frame->last_entry = x;
    } else {
        frame->last->ordered = x;
        if (slot->parent) {
            slot->element->next = x; // the last of its name so far
        } else {
            frame->last_entry->sibling = x; // the first of its name
            frame->last_entry = x;
        }
    }
    frame->last = x;
    if (!slot->parent) {
        slot->parent = parent;
        slot->hash = hash;
        ++a->used;
    }
    slot->element = x;
    return x;
}

void appends_release(child_appends *a) {
    free(a->frames);
    free(a->slots);
    *a = child_appends{};
}
