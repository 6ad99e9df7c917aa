// Internal: building the tree while a parse runs. The exported
// ezxml_open_tag, ezxml_close_tag and ezxml_char_content are these same
// operations without the parse loop's bookkeeping.
#ifndef EZXML_PARSE_TREE_H
#define EZXML_PARSE_TREE_H

#include "xml/child_appends.h"
#include "xml/default_index.h"
#include "xml/entity_index.h"
#include "xml/ezxml.h"
#include "xml/parse_budget.h"

// An open element whose text is a block that the parse loop grows with
// spare room, and how much room that block has.
struct growing_text {
    ezxml *element;
    size_t capacity;
};

// What the parse loop knows about the texts of the open elements. With it,
// opening a child never measures the parent's text again, and a text that
// grows across many runs is copied a logarithmic number of times instead of
// once per run. Blocks are trimmed to their exact size when their element
// closes (or when the parse ends).
struct text_tracker {
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

// Readies the tracker of a parse that pays from budget (null: from nothing
// but each decoding's own allowance): it and every table it keeps charge
// the same budget.
void start_texts(text_tracker *texts, parse_budget *budget);

// Opens an element below the document's current one (or names the root) and
// makes it current. Null when nothing is open or memory ran out; the
// attribute list then still belongs to the caller.
ezxml *open_element(ezxml_document *doc, char *name, char **attributes, text_tracker *texts);

// What opening an empty element below the document's current one and
// closing it again does, without moving the cursor: the element is added
// with its attributes. Null when memory ran out; the attribute list then
// still belongs to the caller.
ezxml *add_empty_element(ezxml_document *doc, char *name, char **attributes, text_tracker *texts);

// Closes the current element when its name matches: null. Otherwise records
// the error and returns the document.
ezxml *close_element(ezxml_document *doc, char *name, char *position, text_tracker *texts);

// Decodes the run s[0..length) (terminating it in place) and appends it to
// the current element's text. When memory or the budget does not allow it,
// the run is lost and the tracker says so (out_of_memory).
// plain: the run is known to hold nothing that decodes in the mode.
void append_run(ezxml_document *doc, char *s, size_t length, char mode, text_tracker *texts,
                bool plain = false);

// Trims the blocks of elements still open and releases the tracker's memory.
void finish_texts(text_tracker *texts);

#endif
