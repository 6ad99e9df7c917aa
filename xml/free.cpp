// Releasing attribute lists, elements, subtrees and whole documents. Trees
// can be nested arbitrarily deep, so the walk is a loop, never recursion.
#include <stdlib.h>

#include "xml/document.h"
#include "xml/element_store.h"

namespace {

constexpr unsigned char name_owned_bit = 0x80;
constexpr unsigned char value_owned_bit = 0x40;

// Frees a table of heap arrays (default attributes, instructions), unless it
// is the shared empty list, which is never freed.
void free_table_array(char ***table) {
    if (table && table != reinterpret_cast<char ***>(EZXML_NIL))
        free(table);
}

// Strings a parsed document allocated itself lie outside its work area. A
// document nothing was parsed into has allocated none of them: whatever its
// tables hold belongs to whoever put it there.
bool allocated_by_parse(const ezxml_document *doc, const char *s) {
    return s && doc->work_start && !in_work_area(doc, s);
}

} // namespace

void release_document_tables(ezxml_document *doc) {
    if (char **entities = doc->entities) {
        // The first five pairs are the built-in entities.
        size_t i = 0;
        while (i < 10 && entities[i])
            ++i;
        for (; entities[i]; i += 2)
            if (allocated_by_parse(doc, entities[i + 1]))
                free(entities[i + 1]);
        free(entities);
    }

    if (char ***defaults = doc->default_attributes) {
        for (size_t i = 0; defaults[i]; ++i) {
            char **list = defaults[i];
            for (size_t j = 1; list[j]; j += 3)
                if (allocated_by_parse(doc, list[j + 1]))
                    free(list[j + 1]);
            free(list);
        }
        free_table_array(defaults);
    }

    if (char ***instructions = doc->instructions) {
        for (size_t i = 0; instructions[i]; ++i) {
            char **entry = instructions[i];
            size_t j = 1;
            while (entry[j])
                ++j;
            free(entry[j + 1]); // the position string
            free(entry);
        }
        free_table_array(instructions);
    }

    if (doc->source_length == static_cast<size_t>(-1))
        free(doc->source);
    free(doc->utf8_copy);
    doc->entities = nullptr;
    doc->default_attributes = reinterpret_cast<char ***>(EZXML_NIL);
    doc->instructions = reinterpret_cast<char ***>(EZXML_NIL);
    doc->source = doc->utf8_copy = nullptr;
    doc->source_length = 0;
}

namespace {

// Frees what one element owns and the record itself.
void free_element(ezxml *e) {
    ezxml_free_attr(e->attributes);
    if (e->flags & EZXML_TEXT_OWNED)
        free(e->text);
    if (e->flags & EZXML_NAME_OWNED)
        free(e->name);
    free_record(e);
}

} // namespace

extern "C" void ezxml_free_attr(char **attr) {
    if (!attr || attr == EZXML_NIL)
        return;
    size_t pairs = 0;
    while (attr[2 * pairs])
        ++pairs;
    char *ownership = attr[2 * pairs + 1];
    if (ownership) {
        for (size_t k = 0; k < pairs && ownership[k]; ++k) {
            unsigned char byte = static_cast<unsigned char>(ownership[k]);
            if (byte & name_owned_bit)
                free(attr[2 * k]);
            if (byte & value_owned_bit)
                free(attr[2 * k + 1]);
        }
    }
    if (!ownership_inside_list(attr, pairs))
        free(ownership);
    free(attr);
}

extern "C" void ezxml_free(ezxml *xml) {
    if (!xml)
        return;
    if (!xml->parent)
        release_document_tables(reinterpret_cast<ezxml_document *>(xml));

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
