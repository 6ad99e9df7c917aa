// Internal: appending children while a parse runs, in constant time.
//
// The parser always adds a child behind every child its parent already has
// (its offset is the parent's text length, which only grows). Linking such
// a child the general way walks the parent's three chains from their start,
// which makes a parent with many children cost quadratic time. The parse
// loop instead remembers, for each open element, its last child and the
// last entry of its first-of-each-name chain, and for every (parent, name)
// the last child of that name; with those, the child is linked exactly
// where the general walk would put it, without walking.
//
// The (parent, name) table is kept small: a parent whose children so far
// all share one name needs no entry (its last child is the last of that
// name), and a parent's entries leave the table when it closes. So deep
// nesting and long runs of one name never touch the table, and the table
// holds only the names under the elements still open.
//
// Most parents have children of only a few names. For those, a short list
// searched in order beats hashing every name: the last child of each name
// stands on a stack shared by the open elements, the current element's
// entries on top (a child's entries are gone again when it closes, before
// its parent gets its next child). Only a parent whose children pass
// `listed_names` names moves its entries into the table.
#ifndef EZXML_CHILD_APPENDS_H
#define EZXML_CHILD_APPENDS_H

#include <stddef.h>

#include "xml/element_store.h"
#include "xml/ezxml.h"

struct append_frame {
    ezxml *parent;
    ezxml *last;         // last child in document order
    ezxml *last_entry;   // last entry of the first-of-each-name chain
    bool listed;         // the children have a few names: the stack holds them
    bool indexed;        // the children have many names: the table holds them
    size_t names;        // entries the table holds for this parent
    size_t listed_from;  // where this parent's entries on the stack begin
    size_t last_listing; // the stack entry of the last child's name
};

// The last child of one name of the current element.
struct listed_name {
    const char *name;
    ezxml *last;
};

constexpr size_t listed_names = 8;

struct last_of_name {
    ezxml *element; // the last child of its name of element->parent; null: free
    size_t hash;    // of the parent and the name
};

struct child_appends {
    append_frame *frames; // open elements, outermost first
    size_t depth;
    size_t frame_capacity;
    last_of_name *slots; // open addressing with linear probing
    size_t used;
    size_t slot_capacity;
    listed_name *listing; // stack of the open elements' listed names
    size_t listing_top;
    size_t listing_capacity;
    bool given_up;        // memory ran out: every later child is linked the general way
    element_pool records; // where the records of appended children come from
    parse_budget *budget; // charged for the index and every record; null: nothing is
};

// Records that element was opened and is now the parse cursor.
// (The common steps are inline: the parse loop takes them for every
// element.)
bool appends_grow_frames(child_appends *appends);

inline void appends_enter(child_appends *appends, ezxml *element) {
    if (appends->given_up)
        return;
    if (appends->depth == appends->frame_capacity && !appends_grow_frames(appends))
        return;
    appends->frames[appends->depth++] = {
        element, nullptr, nullptr, false, false, 0, appends->listing_top, 0};
}

// Records that element was closed.
void appends_unindex(child_appends *appends, const append_frame &frame);

inline void appends_leave(child_appends *appends, ezxml *element) {
    if (appends->given_up || appends->depth == 0 ||
        appends->frames[appends->depth - 1].parent != element)
        return;
    const append_frame &frame = appends->frames[--appends->depth];
    appends->listing_top = frame.listed_from;
    if (frame.indexed)
        appends_unindex(appends, frame);
}

// A new child of parent, the parse cursor, at offset: the same result as
// ezxml_add_child(parent, name, offset), its record taken from the parse's
// slabs. expected_records bounds how many more elements the parse can make
// (0: unknown). Null when memory ran out.
ezxml *appends_add_child(child_appends *appends, ezxml *parent, char *name, size_t offset,
                         size_t expected_records);

// Releases the index (the tree is not touched).
void appends_release(child_appends *appends);

#endif
