// Element records and the links between them: making documents and
// children, linking, cutting and freeing, and an element's text and flags.
// The links are this file's alone (see tree.h for their invariant).
#include "xml/tree.h"

#include <stdlib.h>

#include "xml/attributes.h"
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

// Frees a table of heap arrays (default attributes, instructions), unless it
// is the shared empty list, which is never freed.
void free_table_array(char ***table) {
    if (table && table != reinterpret_cast<char ***>(EZXML_NIL)) {
        free(table);
    }
}

// Strings a parsed document allocated itself lie outside its work area. A
// document nothing was parsed into has allocated none of them: whatever its
// tables hold belongs to whoever put it there.
bool allocated_by_parse(const ezxml_document *doc, const char *s) {
    return s && doc->work_start && !in_work_area(doc, s);
}

// Frees what one element owns and the record itself.
void free_element(ezxml *e) {
    ezxml_free_attr(e->attributes);
    if (e->flags & EZXML_TEXT_OWNED) {
        free(e->text);
    }
    if (e->flags & EZXML_NAME_OWNED) {
        free(e->name);
    }
    free_record(e);
}

} // namespace

// ------------------------------------------------------------------ links

// Walks down top's subtree and climbs back by parent links, which inside
// the subtree are all sound; the links above top are never followed (a cut
// element's former parent may be gone).
bool subtree_contains(const ezxml *top, const ezxml *target) {
    const ezxml *e = top;
    for (;;) {
        if (e == target) {
            return true;
        }
        if (e->child) {
            e = e->child;
            continue;
        }
        while (e != top && !e->ordered) {
            e = e->parent;
        }
        if (e == top) {
            return false;
        }
        e = e->ordered;
    }
}

ezxml *link_child(ezxml *x, ezxml *p, size_t o) {
    assert(!record_linked(x) && x->name && !subtree_contains(x, p));
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
        while (at->ordered && at->ordered->offset <= o) {
            at = at->ordered;
        }
        x->ordered = at->ordered;
        at->ordered = x;
    }

    // The first child of x's name, if any, and the link that points at it on
    // the first-of-each-name chain, which starts at the old first child.
    ezxml *sibling_start = head;
    ezxml **link = &sibling_start;
    while (*link && !names_equal((*link)->name, x->name)) {
        link = &(*link)->sibling;
    }
    ezxml *first = *link;

    if (first && first->offset <= o) {
        // Not the first of its name: behind every same-name child whose
        // offset is at most o, matching its place in document order.
        ezxml *at = first;
        while (at->next && at->next->offset <= o) {
            at = at->next;
        }
        x->next = at->next;
        at->next = x;
        return x;
    }

    // x becomes the first of its name; the former first leaves the chain.
    x->next = first;
    if (first) {
        *link = first->sibling;
    }

    if (new_head || !sibling_start) {
        // The chain always starts at the parent's first child, now x.
        x->sibling = sibling_start;
        return x;
    }
    // The chain's start is the first child (offset at most o) and stays
    // first; behind it, x goes in front of the first entry with a greater
    // offset, which keeps a chain built by insertion in document order.
    ezxml *at = sibling_start;
    while (at->sibling && at->sibling->offset <= o) {
        at = at->sibling;
    }
    x->sibling = at->sibling;
    at->sibling = x;
    return x;
}

void unlink_child(ezxml *xml) {
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
    assert(at || !p || !record_linked(xml)); // a linked element stands on the chain
    if (at) {
        // The first-of-each-name chain, held in a local start while the
        // parent's first child may change under it.
        ezxml *sibling_start = p->child;
        ezxml **link = &sibling_start;
        while (*link && !names_equal((*link)->name, xml->name)) {
            link = &(*link)->sibling;
        }
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
            while (same->next && same->next != xml) {
                same = same->next;
            }
            if (same->next == xml) {
                same->next = successor;
            }
        }

        if (before) {
            before->ordered = xml->ordered;
        } else {
            p->child = xml->ordered;
        }

        // The chain must start at the parent's first child. Only a cut of
        // the first child can change that; the new first child is the first
        // of its name, so it stands somewhere on the chain: move it to the
        // front. Repairs here may leave the rest of the chain out of
        // document order, which nothing depends on.
        ezxml *head = p->child;
        if (head && sibling_start != head) {
            ezxml **to_head = &sibling_start;
            while (*to_head && *to_head != head) {
                to_head = &(*to_head)->sibling;
            }
            if (*to_head) {
                *to_head = head->sibling;
            }
            head->sibling = sibling_start;
        }
    }
    xml->next = xml->sibling = xml->ordered = nullptr;
    set_record_linked(xml, false);
}

void free_subtree(ezxml *xml) {
    assert(!record_linked(xml)); // a root, or cut out
    if (!xml->parent) {
        release_document_tables(reinterpret_cast<ezxml_document *>(xml));
    }

    // Depth-first without a stack: before an element's children are freed,
    // the first child is unhooked and its `ordered` link turned to point
    // back at the element, so the walk returns there once the child's own
    // subtree is gone. Only x and its subtree are freed, never what follows
    // x in a parent: x is a root or was cut out of its tree.
    ezxml *e = xml;
    e->ordered = nullptr;
    while (e) {
        if (ezxml *c = e->child) {
            e->child = c->ordered;
            c->ordered = e;
            e = c;
            continue;
        }
        ezxml *back = e->ordered;
        free_element(e);
        e = back;
    }
}

void release_document_tables(ezxml_document *doc) {
    if (char **entities = doc->entities) {
        // The first five pairs are the built-in entities.
        size_t i = 0;
        while (i < 10 && entities[i]) {
            ++i;
        }
        for (; entities[i]; i += 2) {
            if (allocated_by_parse(doc, entities[i + 1])) {
                free(entities[i + 1]);
            }
        }
        free(entities);
    }

    if (char ***defaults = doc->default_attributes) {
        for (size_t i = 0; defaults[i]; ++i) {
            char **list = defaults[i];
            for (size_t j = 1; list[j]; j += 3) {
                if (allocated_by_parse(doc, list[j + 1])) {
                    free(list[j + 1]);
                }
            }
            free(list);
        }
        free_table_array(defaults);
    }

    if (char ***instructions = doc->instructions) {
        for (size_t i = 0; instructions[i]; ++i) {
            char **entry = instructions[i];
            size_t j = 1;
            while (entry[j]) {
                ++j;
            }
            free(entry[j + 1]); // the position string
            free(entry);
        }
        free_table_array(instructions);
    }

    if (doc->source_length == static_cast<size_t>(-1)) {
        free(doc->source);
    }
    free(doc->utf8_copy);
    doc->entities = nullptr;
    doc->default_attributes = reinterpret_cast<char ***>(EZXML_NIL);
    doc->instructions = reinterpret_cast<char ***>(EZXML_NIL);
    doc->source = doc->utf8_copy = nullptr;
    doc->source_length = 0;
}

// ------------------------------------------------------- exported steps

extern "C" ezxml *ezxml_new(const char *name) {
    auto *doc = static_cast<ezxml_document *>(new_record(sizeof(ezxml_document)));
    if (!doc) {
        return nullptr;
    }
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
    if (!xml || !name) {
        return nullptr;
    }
    auto *child = static_cast<ezxml *>(new_record(sizeof(ezxml)));
    if (!child) {
        return nullptr;
    }
    child->name = const_cast<char *>(name);
    child->attributes = EZXML_NIL;
    child->text = empty_text();
    return link_child(child, xml, off);
}

extern "C" ezxml *ezxml_insert(ezxml *xml, ezxml *dest, size_t off) {
    if (!xml || !dest) {
        return nullptr;
    }
    // Linking an element below itself would make the tree a cycle.
    if (subtree_contains(xml, dest)) {
        return nullptr;
    }
    if (!xml->parent) {
        // The root of another document: a fragment built apart. Only a named
        // one whose tree points into no buffer of its document's own can
        // become somebody's child; its document's tables go now, since as a
        // child it is never freed as a document.
        auto *fragment = reinterpret_cast<ezxml_document *>(xml);
        if (!xml->name || fragment->utf8_copy ||
            fragment->source_length == static_cast<size_t>(-1)) {
            return nullptr;
        }
        // It goes into a document's tree: climbing from dest through linked
        // elements (whose parents are sure to exist) must end at a root.
        // Below a piece cut out, whose former parents may be gone or may lie
        // in the fragment itself, it could close a loop of parent links.
        const ezxml *top = dest;
        while (record_linked(top)) {
            top = top->parent;
        }
        if (top->parent) {
            return nullptr;
        }
        release_document_tables(fragment);
    } else if (record_linked(xml)) {
        // An element still standing in a tree is taken out of it first, so
        // that its parent's chains stay whole. A cut one is not linked, and
        // its former parent, which may be gone, is never looked at.
        unlink_child(xml);
    }
    return link_child(xml, dest, off);
}

extern "C" ezxml *ezxml_cut(ezxml *xml) {
    if (!xml) {
        return nullptr;
    }
    unlink_child(xml);
    return xml;
}

extern "C" void ezxml_free(ezxml *xml) {
    if (xml) {
        free_subtree(xml);
    }
}

extern "C" ezxml *ezxml_set_txt(ezxml *xml, const char *txt) {
    if (!xml || !txt) {
        return nullptr;
    }
    // Setting the text an element already holds changes nothing; freeing it
    // first would leave the element pointing at released memory.
    if (txt == xml->text) {
        return xml;
    }
    if (xml->flags & EZXML_TEXT_OWNED) {
        free(xml->text);
    }
    xml->text = const_cast<char *>(txt);
    xml->flags &= static_cast<uint16_t>(~EZXML_TEXT_OWNED);
    return xml;
}

extern "C" ezxml *ezxml_set_flag(ezxml *xml, unsigned flag) {
    if (!xml) {
        return nullptr;
    }
    xml->flags |= static_cast<uint16_t>(flag);
    return xml;
}
