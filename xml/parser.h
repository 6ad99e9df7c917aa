// Internal: the parse loop that ezxml_parse_str and ezxml_tag_list share.
#ifndef EZXML_PARSER_H
#define EZXML_PARSER_H

#include "xml/ezxml.h"

enum class markup_kinds {
    full,      // elements, attributes, comments, CDATA, DOCTYPE, instructions
    tags_only, // elements without attributes, and comments
};

// Parses s[0..len) in place into a new document (see ezxml_parse_str).
ezxml *parse_buffer(char *s, size_t len, markup_kinds kinds);

#endif
