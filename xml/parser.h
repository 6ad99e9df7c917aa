// Internal: the parse loop that ezxml_parse_str and ezxml_tag_list share.
#ifndef EZXML_PARSER_H
#define EZXML_PARSER_H

#include "xml/ezxml.h"

struct parse_budget;

enum class markup_kinds {
    full,      // elements, attributes, comments, CDATA, DOCTYPE, instructions
    tags_only, // elements without attributes, and comments
};

// Parses s[0..len) in place into a new document (see ezxml_parse_str),
// paying from budget what the document costs: its record, its tables, its
// tree and what it expands. A null budget is one without a memory limit and
// with the expansion allowance of a document of len bytes.
ezxml *parse_buffer(char *s, size_t len, markup_kinds kinds, parse_budget *budget = nullptr);

// ezxml_str2utf8, charging the copy to budget (null: to nothing). With a
// budget the copy is made at its exact size at once, rather than grown.
char *utf16_to_utf8(char **s, size_t *len, parse_budget *budget);

#endif
