// Read-only queries: children by name, the same-name chain, attributes with
// their declared defaults, paths, processing instructions; the error text
// of a parse, recorded with the line the fault stands on; and the shared
// empty list.
#include <limits.h>
#include <stdio.h>

#include "xml/document.h"
#include "xml/ezxml.h"

extern "C" ezxml *ezxml_child(ezxml *xml, const char *name) {
    if (!xml) {
        return nullptr;
    }
    ezxml *entry = xml->child;
    while (entry && !names_equal(entry->name, name)) {
        entry = entry->sibling;
    }
    return entry;
}

extern "C" ezxml *ezxml_idx(ezxml *xml, int idx) {
    if (idx < 0) {
        return nullptr;
    }
    for (; xml && idx > 0; --idx) {
        xml = xml->next;
    }
    return xml;
}

extern "C" const char *ezxml_attr(ezxml *xml, const char *attr) {
    if (!xml || !xml->attributes || !attr) {
        return nullptr;
    }
    char **own = xml->attributes;
    for (size_t i = 0; own[i]; i += 2) {
        if (strcmp(own[i], attr) == 0) {
            return own[i + 1];
        }
    }

    // An element without a name matches no declaration.
    if (!xml->name) {
        return nullptr;
    }
    char ***defaults = document_of(xml)->default_attributes;
    if (!defaults) {
        return nullptr;
    }
    size_t i = 0;
    while (defaults[i] && strcmp(defaults[i][0], xml->name) != 0) {
        ++i;
    }
    char **declared = defaults[i];
    if (!declared) {
        return nullptr;
    }
    for (size_t j = 1; declared[j]; j += 3) {
        if (strcmp(declared[j], attr) == 0) {
            return declared[j + 1];
        }
    }
    return nullptr;
}

extern "C" ezxml *ezxml_vget(ezxml *xml, va_list ap) {
    while (xml) {
        const char *name = va_arg(ap, const char *);
        if (!name || !*name) {
            return xml;
        }
        int idx = va_arg(ap, int);
        xml = ezxml_child(xml, name);
        // A negative index asks for the first of that name and ends the path.
        if (idx < 0) {
            return xml;
        }
        xml = ezxml_idx(xml, idx);
    }
    return nullptr;
}

extern "C" ezxml *ezxml_get(ezxml *xml, ...) {
    va_list ap;
    va_start(ap, xml);
    ezxml *found = ezxml_vget(xml, ap);
    va_end(ap);
    return found;
}

extern "C" const char **ezxml_pi(ezxml *xml, const char *target) {
    const char **none = const_cast<const char **>(EZXML_NIL);
    if (!xml || !target) {
        return none;
    }
    char ***instructions = document_of(xml)->instructions;
    if (!instructions) {
        return none;
    }
    for (size_t i = 0; instructions[i]; ++i) {
        if (strcmp(instructions[i][0], target) == 0) {
            return const_cast<const char **>(instructions[i] + 1);
        }
    }
    return none;
}

extern "C" const char *ezxml_error(ezxml *xml) {
    if (!xml) {
        return "";
    }
    return document_of(xml)->error_text;
}

namespace {

// 1 plus the line feeds between the start of the work area and position.
// The work area holds the NULs that parsing wrote, so bytes are counted by
// length, never up to a terminator.
int line_of(const ezxml_document *doc, const char *position) {
    const char *start = doc->work_start;
    if (!start || !position || position <= start) {
        return 1;
    }
    const char *end = doc->work_end && position > doc->work_end ? doc->work_end : position;
    size_t lines = 1;
    for (const char *p = start; p < end;) {
        const void *lf = memchr(p, '\n', static_cast<size_t>(end - p));
        if (!lf) {
            break;
        }
        ++lines;
        p = static_cast<const char *>(lf) + 1;
    }
    return lines > INT_MAX ? INT_MAX : static_cast<int>(lines);
}

} // namespace

extern "C" ezxml *ezxml_err(ezxml_document *doc, char *position, const char *format, ...) {
    if (!doc) {
        return nullptr;
    }
    char *text = doc->error_text;
    // The prefix and the caller's message are formatted one after the other
    // into the bounded buffer: the caller's format is never cut, so no
    // conversion is ever split, and the message is cut at the capacity.
    int prefix =
        snprintf(text, EZXML_ERROR_CAPACITY, "[error near line %d]: ", line_of(doc, position));
    if (prefix < 0) {
        text[0] = '\0';
        return &doc->root;
    }
    size_t used = static_cast<size_t>(prefix);
    if (format && used < EZXML_ERROR_CAPACITY - 1) {
        va_list ap;
        va_start(ap, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        vsnprintf(text + used, EZXML_ERROR_CAPACITY - used, format, ap);
#pragma GCC diagnostic pop
        va_end(ap);
    }
    return &doc->root;
}

// The one shared empty list; its single null entry ends every walk at once.
// (Declared with C linkage in the header.)
char *EZXML_NIL[] = {nullptr};
