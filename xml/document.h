// Internal helpers shared by the library's own files; not part of the
// public interface.
#ifndef EZXML_DOCUMENT_H
#define EZXML_DOCUMENT_H

#include <string.h>

#include "xml/ezxml.h"

// The document an element belongs to: its root's record extends to the whole
// document. Walks up iteratively, since trees may be nested arbitrarily deep.
inline ezxml_document *document_of(ezxml *element) {
    if (!element) {
        return nullptr;
    }
    while (element->parent) {
        element = element->parent;
    }
    return reinterpret_cast<ezxml_document *>(element);
}

// Whether p points into the text the parser cut up in place (both ends
// included). Such strings are never freed on their own; anything else a
// parsed document holds was allocated by it. A document nothing was parsed
// into has no work area at all, so nothing is ever inside it.
inline bool in_work_area(const ezxml_document *doc, const char *p) {
    if (!doc || !doc->work_start || !p) {
        return false;
    }
    return p >= doc->work_start && p <= doc->work_end;
}

// Byte-for-byte string equality, as strcmp(a, b) == 0 decides it. Names
// are short, and most comparisons end at their first byte or are of a name
// with itself, where a call to the C library's strcmp would cost more than
// the comparison.
inline bool same_string(const char *a, const char *b) {
    if (a == b) {
        return true;
    }
    while (*a == *b) {
        if (*a == '\0') {
            return true;
        }
        ++a;
        ++b;
    }
    return false;
}

// Name comparison that tolerates the null name of a not yet named root:
// null equals only null.
inline bool names_equal(const char *a, const char *b) {
    if (a == b) {
        return true;
    }
    return a && b && same_string(a, b);
}

// Frees what a document owns besides its tree: its tables and the buffers
// it holds, leaving it with none.
void release_document_tables(ezxml_document *doc);

// The text of an element without character content. Shared and never
// written or freed.
inline char *empty_text() {
    static const char empty[] = "";
    return const_cast<char *>(empty);
}

#endif
