// Internal helpers shared by the library's own files; not part of the
// public interface.
#ifndef EZXML_DOCUMENT_H
#define EZXML_DOCUMENT_H

#include "xml/ezxml.h"

// The document an element belongs to: its root's record extends to the whole
// document. Walks up iteratively, since trees may be nested arbitrarily deep.
inline ezxml_document *document_of(ezxml *element) {
    if (!element)
        return nullptr;
    while (element->parent)
        element = element->parent;
    return reinterpret_cast<ezxml_document *>(element);
}

// Whether p points into the text the parser cut up in place. Such strings are
// never freed; anything else a parsed document holds was allocated by it.
// A document nothing was parsed into has no work area at all.
inline bool in_work_area(const ezxml_document *doc, const char *p) {
    if (!doc || !doc->work_start || !p)
        return false;
    return p >= doc->work_start && p < doc->work_end;
}

#endif
