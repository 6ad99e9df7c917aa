// Internal: the state of one parse, and the steps that build the tree with
// it. The parse loop keeps one for the whole parse; the exported steps
// ezxml_open_tag, ezxml_close_tag and ezxml_char_content make one for the
// length of their call, so every step has a state and none asks whether it
// has one.
#ifndef EZXML_PARSE_STATE_H
#define EZXML_PARSE_STATE_H

#include "xml/child_appends.h"
#include "xml/ezxml.h"
#include "xml/indexes.h"
#include "xml/parse_budget.h"

// An open element whose text is a block that the parse grows with spare
// room, and how much room that block has.
struct growing_text {
    ezxml *element;
    size_t capacity;
};

// What a parse knows besides the document. With it, opening a child never
// measures the parent's text again, a text that grows across many runs is
// copied a logarithmic number of times instead of once per run (its block
// is trimmed to its exact size when its element closes, or when the parse
// ends), children are appended in constant time, and entities and declared
// attributes are found without scanning their lists.
struct parse_state {
    size_t current_length; // length of the text of the document's current element
    growing_text *blocks;  // open elements with a growing block, outermost first
    size_t count;
    size_t capacity;
    bool out_of_memory;     // an allocation failed while text was appended
    size_t elements_left;   // at most this many more elements can follow (0: unknown)
    child_appends children; // links new children without walking the chains
    entity_index entities;  // finds the document's entities without scanning the list
    default_index defaults; // finds declared attributes without scanning the table
    parse_budget *budget;   // what the document may still cost (see parse_budget.h)
};

// Readies the state of a parse of doc that pays from budget (null: from
// nothing but each decoding's own allowance): it and every table it keeps
// charge the same budget. The document's current element's text, if any,
// is measured once here.
void start_state(parse_state &state, ezxml_document *doc, parse_budget *budget);

// Trims the blocks of elements still open, links the name chains that wait
// and releases the state's memory.
void finish_state(parse_state &state);

// Opens an element below the document's current one (or names the root) and
// makes it current. Null when memory ran out; the attribute list then still
// belongs to the caller. The document has a current element.
ezxml *open_element(ezxml_document *doc, char *name, char **attributes, parse_state &state);

// What opening an empty element below the document's current one and
// closing it again does, without moving the cursor: the element is added
// with its attributes. Null when memory ran out; the attribute list then
// still belongs to the caller.
ezxml *add_empty_element(ezxml_document *doc, char *name, char **attributes, parse_state &state);

// Closes the current element when its name matches: null. Otherwise records
// the error and returns the document.
ezxml *close_element(ezxml_document *doc, char *name, char *position, parse_state &state);

// Decodes the run s[0..length) (terminating it in place) and appends it to
// the current element's text. When memory or the budget does not allow it,
// the run is lost and the state says so (out_of_memory).
// plain: the run is known to hold nothing that decodes in the mode.
void append_run(ezxml_document *doc, char *s, size_t length, char mode, parse_state &state,
                bool plain = false);

#endif
