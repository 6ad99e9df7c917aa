// Internal: the one owner of the tree's links. Every write to an element's
// `child`, `ordered`, `sibling`, `next` and `parent`, and to the record's
// linked mark (element_store.h), is made by tree.cpp or by the appending
// steps below, which child_appends.cpp takes while a parse runs.
//
// The three-chain invariant, for every parent p:
// - document order: p->child, then `ordered`, reaches every child of p
//   exactly once, with offsets that never decrease; each child's `parent`
//   is p and its record is marked linked;
// - first of each name: p->child, then `sibling`, holds the first child (in
//   document order) of every distinct name among p's children exactly once,
//   and nothing else. It starts at p->child, which is always the first of
//   its name. Built by linking alone it is in document order; repairs after
//   a cut may leave the rest of it out of that order, which nothing needs;
// - same name: from each such first child, `next` reaches exactly the
//   children of that name, in document order; the last one's is null.
// A root, and an element cut out, has null `next`, `sibling` and `ordered`
// and is not marked linked; a cut element keeps its `parent` link (which
// nothing follows any more, since that parent may be gone) and its subtree.
//
// Names are compared with names_equal (document.h), under which the null
// name of a not yet named root equals only itself; no child is unnamed.
#ifndef EZXML_TREE_H
#define EZXML_TREE_H

#include <assert.h>
#include <stddef.h>

#include "xml/document.h"
#include "xml/element_store.h"
#include "xml/ezxml.h"

// Links x, which stands in no chain, into p at offset o: behind every child
// whose offset is at most o, so that children inserted at one offset keep
// the order of insertion. p must not lie in x's subtree. Linear in p's
// children.
ezxml *link_child(ezxml *x, ezxml *p, size_t o);

// Takes x out of its parent's chains if it stands in them (ezxml_cut).
void unlink_child(ezxml *x);

// Whether target is top or lies below it, found without following any link
// above top.
bool subtree_contains(const ezxml *top, const ezxml *target);

// Frees x, its subtree and, for a root, its document (ezxml_free). x is a
// root or was cut out.
void free_subtree(ezxml *x);

// ------------------------------------------------------------- appending
//
// Linking a new child x behind every child that p already has (its offset
// at least theirs), in constant time: the caller knows p's last child in
// document order and, for x's name, either the last child of that name or
// the last entry of the first-of-each-name chain. The parse appends this
// way (child_appends.h); each step keeps the invariant once all three are
// taken, and says what it relies on.

// x (a new record) becomes p's last child in document order; last is p's
// last child before it, or null when p has none.
inline void append_in_order(ezxml *p, ezxml *last, ezxml *x, size_t offset) {
    assert(!record_linked(x) && !x->next && !x->sibling && !x->ordered);
    assert(last ? last->parent == p && !last->ordered && last->offset <= offset : !p->child);
    x->offset = offset;
    x->parent = p;
    set_record_linked(x, true);
    if (last) {
        last->ordered = x;
    } else {
        p->child = x;
    }
}

// x, just appended, goes behind the last child of its name.
inline void append_same_name(ezxml *last_of_name, ezxml *x) {
    assert(last_of_name->parent == x->parent && !last_of_name->next);
    assert(names_equal(last_of_name->name, x->name));
    last_of_name->next = x;
}

// x, just appended, is the first of its name: it goes behind the last entry
// of the first-of-each-name chain (none when x is the first child).
inline void append_first_of_name(ezxml *last_entry, ezxml *x) {
    assert(!last_entry || (last_entry->parent == x->parent && !last_entry->sibling));
    if (last_entry) {
        last_entry->sibling = x;
    }
}

// Drops x's place on the name chains, for a caller that links the whole
// set of a parent's children into them again (child_appends.cpp).
inline void clear_name_links(ezxml *x) {
    x->next = x->sibling = nullptr;
}

#endif
