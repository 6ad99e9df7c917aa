// Read-only queries: children by name, the same-name chain, attributes with
// their declared defaults, paths, processing instructions and error text.
#include "xml/document.h"

extern "C" ezxml *ezxml_child(ezxml *xml, const char *name) {
    if (!xml)
        return nullptr;
    ezxml *entry = xml->child;
    while (entry && !names_equal(entry->name, name))
        entry = entry->sibling;
    return entry;
}

extern "C" ezxml *ezxml_idx(ezxml *xml, int idx) {
    if (idx < 0)
        return nullptr;
    for (; xml && idx > 0; --idx)
        xml = xml->next;
    return xml;
}

extern "C" const char *ezxml_attr(ezxml *xml, const char *attr) {
    if (!xml || !xml->attributes || !attr)
        return nullptr;
    char **own = xml->attributes;
    for (size_t i = 0; own[i]; i += 2)
        if (strcmp(own[i], attr) == 0)
            return own[i + 1];

    // An element without a name matches no declaration.
    if (!xml->name)
        return nullptr;
    char ***defaults = document_of(xml)->default_attributes;
    if (!defaults)
        return nullptr;
    size_t i = 0;
    while (defaults[i] && strcmp(defaults[i][0], xml->name) != 0)
        ++i;
    char **declared = defaults[i];
    if (!declared)
        return nullptr;
    for (size_t j = 1; declared[j]; j += 3)
        if (strcmp(declared[j], attr) == 0)
            return declared[j + 1];
    return nullptr;
}

extern "C" ezxml *ezxml_vget(ezxml *xml, va_list ap) {
    while (xml) {
        const char *name = va_arg(ap, const char *);
        if (!name || !*name)
            return xml;
        int idx = va_arg(ap, int);
        xml = ezxml_child(xml, name);
        // A negative index asks for the first of that name and ends the path.
        if (idx < 0)
            return xml;
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
    if (!xml || !target)
        return none;
    char ***instructions = document_of(xml)->instructions;
    if (!instructions)
        return none;
    for (size_t i = 0; instructions[i]; ++i)
        if (strcmp(instructions[i][0], target) == 0)
            return const_cast<const char **>(instructions[i] + 1);
    return none;
}

extern "C" const char *ezxml_error(ezxml *xml) {
    if (!xml)
        return "";
    return document_of(xml)->error_text;
}
