// The reduced parser for documents of plain elements, text and comments:
// attributes, CDATA, DOCTYPE and instructions are refused.
#include "xml/parser.h"

ezxml *ezxml_tag_list(char *s, size_t len) {
    return parse_buffer(s, len, markup_kinds::tags_only);
}
