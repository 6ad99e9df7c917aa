// Internal: parsing a file within a memory budget. The daemon parses what
// provisioning servers send it and must stay small whatever they send; other
// programs use the exported loaders, which set no limit. Not exported: the
// daemon calls this itself.
#ifndef EZXML_BOUNDED_PARSE_H
#define EZXML_BOUNDED_PARSE_H

#include <stddef.h>

#include "xml/ezxml.h"

// What ezxml_parse_file(path) does, except that everything the parse
// allocates for the document (the buffer the file is read into, the
// document record and its tables, the tree, the texts and values that
// decoding makes) counts against memory_budget bytes. Once the next
// allocation would pass the budget, the parse ends with the error
// "document exceeds its memory budget" and keeps the partial tree, as with
// any parse error. A file whose buffer alone does not fit yields a document
// without a root name that carries that error (on line 1), so the caller
// learns why, as with any document that failed. Null, as ezxml_parse_file
// gives it, when the file cannot be opened or read.
//
// The count is the library's own (see parse_budget.h), so where a parse
// stops is the same in every build of one architecture. It errs on the
// high side: blocks are charged at their full size whenever they are made
// or grown, and nothing is refunded when they shrink or are freed.
ezxml *parse_file_within(const char *path, size_t memory_budget);

#endif
