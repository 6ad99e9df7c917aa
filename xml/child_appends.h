// Internal: appending children while a parse runs, in constant time each.
//
// The parser always adds a child behind every child its parent already has
// (its offset is the parent's text length, which only grows). Linking such
// a child the general way (link_child) walks the parent's chains from their
// start, which makes a parent with many children cost quadratic time. The
// parse loop instead keeps, for each open element, its last child and what
// it needs of the name chains, and appends with tree.h's appending steps,
// which put the child exactly where the general walk would.
//
// What a parent needs depends on the names of its children:
// - one name so far: its last child is the last of that name;
// - a few names (up to `listed_names`): the last child of each stands on a
//   stack shared by the open elements, the current element's entries on
//   top (a child's entries are gone again when it closes, before its
//   parent gets its next child), searched in order;
// - more names: looking every child's name up in a table would cost a
//   cache miss per child once the table outgrows the cache, so the name
//   chains of such a parent are not kept up while it is open. Its children
//   are only put in document order and noted, with a hash of their name,
//   on a second shared stack; when the parent closes (or the parse ends),
//   one pass sorts the notes by hash (a radix sort: sequential passes, a
//   constant cost per child however many names there are) and links every
//   child into the name chains at once.
// Nothing reads the name chains of an open element while the parse runs,
// so the tree is whole whenever the parse hands it over.
#ifndef EZXML_CHILD_APPENDS_H
#define EZXML_CHILD_APPENDS_H

#include <stddef.h>
#include <stdint.h>

#include "xml/element_store.h"
#include "xml/ezxml.h"

enum class name_chains : unsigned char {
    one_name, // every child so far has the same name
    listed,   // a few names: the listing stack holds the last child of each
    deferred, // many names: linked when the element closes
};

struct append_frame {
    ezxml *parent;
    ezxml *last;          // last child in document order
    ezxml *last_entry;    // last entry of the first-of-each-name chain (not when deferred)
    size_t children;      // children appended so far
    size_t listed_from;   // where this parent's entries on the listing stack begin
    size_t last_listing;  // the listing entry of the last child's name
    size_t deferred_from; // where this parent's notes on the deferred stack begin
    name_chains chains;
};

// The last child of one name of the current element.
struct listed_name {
    const char *name;
    ezxml *last;
};

constexpr size_t listed_names = 8;

// A child whose name chains wait for its parent to close: key is the hash
// of its name (high half) and its number among its parent's children (low
// half), so that sorting the keys orders the children by name hash and, for
// one hash, in document order.
struct deferred_child {
    ezxml *child;
    uint64_t key;
};

struct child_appends {
    append_frame *frames; // open elements, outermost first
    size_t depth;
    size_t frame_capacity;
    listed_name *listing; // stack of the open elements' listed names
    size_t listing_top;
    size_t listing_capacity;
    deferred_child *deferred; // stack of the open elements' deferred children
    size_t deferred_top;
    size_t deferred_capacity;
    bool given_up;        // memory ran out: every later child is linked the general way
    element_pool records; // where the records of appended children come from
    parse_budget *budget; // charged for the stacks and every record; null: nothing is
};

// Readies appends charged to budget (null: to nothing).
void appends_start(child_appends *appends, parse_budget *budget);

// Records that element was opened and is now the parse cursor.
// (The common steps are inline: the parse loop takes them for every
// element.)
bool appends_grow_frames(child_appends *appends);

inline void appends_enter(child_appends *appends, ezxml *element) {
    if (appends->given_up) {
        return;
    }
    if (appends->depth == appends->frame_capacity && !appends_grow_frames(appends)) {
        return;
    }
    appends->frames[appends->depth++] = {element,
                                         nullptr,
                                         nullptr,
                                         0,
                                         appends->listing_top,
                                         0,
                                         appends->deferred_top,
                                         name_chains::one_name};
}

// Links the name chains of a frame whose children were deferred.
void appends_link_deferred(child_appends *appends, const append_frame &frame);

// Records that element was closed.
inline void appends_leave(child_appends *appends, ezxml *element) {
    if (appends->given_up || appends->depth == 0 ||
        appends->frames[appends->depth - 1].parent != element) {
        return;
    }
    const append_frame &frame = appends->frames[--appends->depth];
    if (frame.chains == name_chains::deferred) {
        appends_link_deferred(appends, frame);
    }
    appends->listing_top = frame.listed_from;
    appends->deferred_top = frame.deferred_from;
}

// A new child of parent, the parse cursor, at offset: the same result as
// ezxml_add_child(parent, name, offset), its record taken from the parse's
// slabs. expected_records bounds how many more elements the parse can make
// (0: unknown). Null when memory ran out.
ezxml *appends_add_child(child_appends *appends, ezxml *parent, char *name, size_t offset,
                         size_t expected_records);

// Links the name chains of the elements still open and releases the
// stacks (the tree is not touched otherwise).
void appends_release(child_appends *appends);

#endif
