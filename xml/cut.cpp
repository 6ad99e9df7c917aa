// Taking an element out of its parent's chains. The element keeps its
// subtree and its parent link, so it can be linked in again or freed.
#include "xml/document.h"
#include "xml/element_store.h"

extern "C" ezxml *ezxml_cut(ezxml *xml) {
    if (!xml)
        return nullptr;
    ezxml *p = xml->parent;
    ezxml *successor = xml->next;

    // Find x on the chain in document order. An element that is not linked
    // (a root, or one cut before, whose former parent may be gone) has
    // nothing to unlink.
    ezxml *before = nullptr;
    ezxml *at = p && record_linked(xml) ? p->child : nullptr;
    while (at && at != xml) {
        before = at;
        at = at->ordered;
    }
    if (at) {
        // The first-of-each-name chain, held in a local start while the
        // parent's first child may change under it.
        ezxml *sibling_start = p->child;
        ezxml **link = &sibling_start;
        while (*link && !names_equal((*link)->name, xml->name))
            link = &(*link)->sibling;
        ezxml *first = *link;
        if (first == xml) {
            // Its same-name successor, if any, takes its place on the chain.
            if (successor) {
                successor->sibling = xml->sibling;
                *link = successor;
            } else {
                *link = xml->sibling;
            }
        } else if (first) {
            ezxml *same = first;
            while (same->next && same->next != xml)
                same = same->next;
            if (same->next == xml)
                same->next = successor;
        }

        if (before)
            before->ordered = xml->ordered;
        else
            p->child = xml->ordered;

        // The chain must start at the parent's first child. Only a cut of
        // the first child can change that; the new first child is the first
        // of its name, so it stands somewhere on the chain: move it to the
        // front. Repairs here may leave the rest of the chain out of
        // document order, which nothing depends on.
        ezxml *head = p->child;
        if (head && sibling_start != head) {
            ezxml **to_head = &sibling_start;
            while (*to_head && *to_head != head)
                to_head = &(*to_head)->sibling;
            if (*to_head)
                *to_head = head->sibling;
            head->sibling = sibling_start;
        }
    }
    xml->next = xml->sibling = xml->ordered = nullptr;
    set_record_linked(xml, false);
    return xml;
}
