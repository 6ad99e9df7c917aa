// Start tags: the element name, the attributes with their values decoded
// as declared, and the empty-element form.
#include <stdlib.h>

#include "xml/indexes.h"
#include "xml/attributes.h"
#include "xml/document.h"
#include "xml/entities.h"
#include "xml/scanner.h"

namespace scanning {
namespace {

// The declared attributes of an element: the first per-element list of the
// internal DTD for that name (and its number in the table), or none.
struct declared_list {
    char **list = nullptr;
    ptrdiff_t number = -1;
};

declared_list declared_attributes(scanner &sc, const char *element) {
    char ***table = sc.doc->default_attributes;
    if (!table[0]) {
        return {}; // nothing declared (the usual case): no index to consult
    }
    default_index *index = &sc.state.defaults;
    if (default_index_update(index, table, -1)) {
        ptrdiff_t number = default_index_list(index, table, element);
        return number < 0 ? declared_list{} : declared_list{table[number], number};
    }
    for (ptrdiff_t i = 0; table[i]; ++i) {
        if (strcmp(table[i][0], element) == 0) {
            return {table[i], i};
        }
    }
    return {};
}

// How the value of an attribute is normalised: the first character of its
// declared type marker, or ' ' (CDATA) when it was not declared.
char value_mode(scanner &sc, const declared_list &declared, const char *attribute) {
    if (!declared.list) {
        return ' ';
    }
    const default_index *index = &sc.state.defaults;
    if (!index->unusable && static_cast<size_t>(declared.number) < index->known_lists) {
        ptrdiff_t t = default_index_triple(index, sc.doc->default_attributes,
                                           static_cast<size_t>(declared.number), attribute);
        return t < 0 ? ' ' : declared.list[1 + 3 * t + 2][0];
    }
    for (char **triple = declared.list + 1; *triple; triple += 3) {
        if (strcmp(triple[0], attribute) == 0) {
            return triple[2][0];
        }
    }
    return ' ';
}

// Reads one attribute at p. Returns where the scan goes on, or null after
// recording an error (the list has then been released).
char *read_attribute(scanner &sc, char *markup, char *p, attribute_builder &attrs,
                     const declared_list &declared) {
    char *name = p;
    if (!attrs.add(name)) {
        attrs.release();
        return fail_out_of_memory(sc, markup);
    }
    size_t k = attrs.count - 1;

    p = find_any(p, sc.end, attribute_name_ends);
    if (p == sc.end || *p == '/' || *p == '>') {
        return p; // an empty value; the name is ended by what ends the tag
    }

    *p++ = '\0';
    p = skip_all(p, before_value);
    if (p < sc.end && (*p == '"' || *p == '\'')) {
        char quote = *p++;
        char *value = p;
        // An undeclared value usually holds nothing to decode, which one
        // pass to its closing quote finds out.
        char *close = nullptr;
        bool plain = false;
        if (!declared.list) {
            // One search per quote, so that each searches a set known
            // when compiled.
            char *stop = quote == '"' ? find_any(p, sc.end, double_quoted_stops)
                                      : find_any(p, sc.end, single_quoted_stops);
            plain = *stop == quote;
            close = plain ? stop : nullptr;
            p = stop;
        }
        if (!plain) {
            close = static_cast<char *>(memchr(p, quote, sc.end - p));
        }
        if (!close) {
            attrs.release();
            ezxml_err(sc.doc, markup, "missing %c", quote);
            return nullptr;
        }
        *close = '\0';
        p = close + 1;
        if (!plain) {
            size_t decoded_length;
            char *decoded = decode_run(value, static_cast<size_t>(close - value), sc.doc->entities,
                                       value_mode(sc, declared, name), &sc.state.entities,
                                       sc.state.budget, &decoded_length);
            if (budget_overrun_happened(sc.state.budget)) { // cut short: the parse ends
                if (decoded != value) {
                    free(decoded);
                }
                attrs.release();
                return fail_out_of_memory(sc, markup);
            }
            attrs.list[2 * k + 1] = decoded;
            if (decoded != value) {
                attrs.owners[k] = pair_owns_copied_value;
            }
        } else {
            attrs.list[2 * k + 1] = value;
        }
    }
    return skip_all(p, space_chars);
}

// After a start tag has been read up to its end (p at '>', at the end of
// input, or at the character after '/'), opens the element and, for an
// empty-element tag, closes it again.
char *finish_start_tag(scanner &sc, char *markup, char *name, char *p, attribute_builder &attrs,
                       bool empty) {
    if (!closes_markup(sc, p)) {
        attrs.release();
        ezxml_err(sc.doc, markup, "missing >");
        return nullptr;
    }
    if (p < sc.end && !empty) {
        *p = '\0'; // also ends the name when nothing followed it
    }
    char **list = attrs.take();
    if (!list) {
        attrs.release();
        return fail_out_of_memory(sc, markup);
    }
    // Every later element takes at least a '<' and the first letter of its
    // name, which bounds how many records the parse can still ask for.
    sc.state.elements_left = 1 + static_cast<size_t>(sc.end - p) / 2;
    if (empty && sc.doc->current->name) {
        // Opened and closed at once: the cursor would come straight back,
        // so the element is only added.
        if (!add_empty_element(sc.doc, name, list, sc.state)) {
            ezxml_free_attr(list);
            return fail_out_of_memory(sc, markup);
        }
        return p;
    }
    if (!open_element(sc.doc, name, list, sc.state)) {
        ezxml_free_attr(list);
        return fail_out_of_memory(sc, markup);
    }
    if (empty) {
        close_element(sc.doc, name, p, sc.state);
    }
    return p;
}

} // namespace

char *start_tag(scanner &sc, char *markup) {
    if (!sc.doc->current) {
        ezxml_err(sc.doc, markup, "markup outside of root element");
        return nullptr;
    }
    char *name = markup;
    char *p = find_any(markup, sc.end, tag_name_ends);
    while (p < sc.end && is_space(*p)) {
        *p++ = '\0';
    }

    attribute_builder attrs;
    attrs.budget = sc.state.budget;
    if (sc.kinds == markup_kinds::full) {
        declared_list declared;
        if (p < sc.end && *p != '/' && *p != '>') {
            declared = declared_attributes(sc, name);
        }
        while (p < sc.end && *p != '/' && *p != '>') {
            p = read_attribute(sc, markup, p, attrs, declared);
            if (!p) {
                return nullptr;
            }
        }
    }

    if (p < sc.end && *p == '/') {
        *p++ = '\0';
        return finish_start_tag(sc, markup, name, p, attrs, true);
    }
    return finish_start_tag(sc, markup, name, p, attrs, false);
}

} // namespace scanning
