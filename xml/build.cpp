// Building trees: new documents, new children, and linking an element into
// its parent's three chains (document order, first-of-each-name, same name).
#include <stdlib.h>

#include "xml/document.h"
#include "xml/element_store.h"
#include "xml/entities.h"

// The five entities every document knows, in the order the decoder tries
// them; documents start with a heap copy of this list.
char *const default_entities[default_entity_pointers] = {
    const_cast<char *>("lt;"),
    const_cast<char *>("&#60;"),
    const_cast<char *>("gt;"),
    const_cast<char *>("&#62;"),
    const_cast<char *>("quot;"),
    const_cast<char *>("&#34;"),
    const_cast<char *>("apos;"),
    const_cast<char *>("&#39;"),
    const_cast<char *>("amp;"),
    const_cast<char *>("&#38;"),
    nullptr,
};

namespace {

// Links a detached element x into parent p at offset o. The caller has made
// sure that x is in no chain and that p is not inside x's subtree.
ezxml *link_child(ezxml *x, ezxml *p, size_t o) {
    x->next = x->sibling = x->ordered = nullptr;
    x->offset = o;
    x->parent = p;
    set_record_linked(x, true);

    ezxml *head = p->child;
    if (!head) {
        p->child = x;
        return x;
    }

    // Document order: behind every child whose offset is at most o, so that
    // children inserted at one offset keep the order of insertion.
    bool new_head = o < head->offset;
    if (new_head) {
        x->ordered = head;
        p->child = x;
    } else {
        ezxml *at = head;
        while (at->ordered && at->ordered->offset <= o)
            at = at->ordered;
        x->ordered = at->ordered;
        at->ordered = x;
    }

    // The first child of x's name, if any, and the link that points at it on
    // the first-of-each-name chain, which starts at the old first child.
    ezxml *sibling_start = head;
    ezxml **link = &sibling_start;
    while (*link && !names_equal((*link)->name, x->name))
        link = &(*link)->sibling;
    ezxml *first = *link;

    if (first && first->offset <= o) {
        // Not the first of its name: behind every same-name child whose
        // offset is at most o, matching its place in document order.
        ezxml *at = first;
        while (at->next && at->next->offset <= o)
            at = at->next;
        x->next = at->next;
        at->next = x;
        return x;
    }

    // x becomes the first of its name; the former first leaves the chain.
    x->next = first;
    if (first)
        *link = first->sibling;

    if (new_head || !sibling_start) {
        // The chain always starts at the parent's first child, now x.
        x->sibling = sibling_start;
        return x;
    }
    // The chain's start is the first child (offset at most o) and stays
    // first; behind it, x goes in front of the first entry with a greater
    // offset, which keeps a chain built by insertion in document order.
    ezxml *at = sibling_start;
    while (at->sibling && at->sibling->offset <= o)
        at = at->sibling;
    x->sibling = at->sibling;
    at->sibling = x;
    return x;
}

// Whether target is top or below it. Walks down top's subtree and climbs
// back by parent links, which inside the subtree are all sound; the links
// above top are never followed (a cut element's former parent may be gone).
bool subtree_contains(const ezxml *top, const ezxml *target) {
    const ezxml *e = top;
    for (;;) {
        if (e == target)
            return true;
        if (e->child) {
            e = e->child;
            continue;
        }
        while (e != top && !e->ordered)
            e = e->parent;
        if (e == top)
            return false;
        e = e->ordered;
    }
}

} // namespace

extern "C" ezxml *ezxml_new(const char *name) {
    auto *doc = static_cast<ezxml_document *>(new_record(sizeof(ezxml_document)));
    if (!doc)
        return nullptr;
    doc->entities = static_cast<char **>(malloc(sizeof default_entities));
    if (!doc->entities) {
        free_record(doc);
        return nullptr;
    }
    memcpy(doc->entities, default_entities, sizeof default_entities);
    doc->root.name = const_cast<char *>(name);
    doc->root.text = empty_text();
    doc->root.attributes = EZXML_NIL;
    doc->current = &doc->root;
    doc->default_attributes = reinterpret_cast<char ***>(EZXML_NIL);
    doc->instructions = reinterpret_cast<char ***>(EZXML_NIL);
    doc->error_text[0] = '\0';
    return &doc->root;
}

extern "C" ezxml *ezxml_add_child(ezxml *xml, const char *name, size_t off) {
    // Only a document's root may be unnamed.
    if (!xml || !name)
        return nullptr;
    auto *child = static_cast<ezxml *>(new_record(sizeof(ezxml)));
    if (!child)
        return nullptr;
    child->name = const_cast<char *>(name);
    child->attributes = EZXML_NIL;
    child->text = empty_text();
    return link_child(child, xml, off);
}

extern "C" ezxml *ezxml_insert(ezxml *xml, ezxml *dest, size_t off) {
    if (!xml || !dest)
        return nullptr;
    // Linking an element below itself would make the tree a cycle.
    if (subtree_contains(xml, dest))
        return nullptr;
    if (!xml->parent) {
        // The root of another document: a fragment built apart. Only a named
        // one whose tree points into no buffer of its document's own can
        // become somebody's child; its document's tables go now, since as a
        // child it is never freed as a document.
        auto *fragment = reinterpret_cast<ezxml_document *>(xml);
        if (!xml->name || fragment->utf8_copy || fragment->source_length == static_cast<size_t>(-1))
            return nullptr;
        release_document_tables(fragment);
    } else if (record_linked(xml)) {
        // An element still standing in a tree is taken out of it first, so
        // that its parent's chains stay whole. A cut one is not linked, and
        // its former parent, which may be gone, is never looked at.
        ezxml_cut(xml);
    }
    return link_child(xml, dest, off);
}
