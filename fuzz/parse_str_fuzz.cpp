// Parses arbitrary bytes and holds the result to everything a document
// promises: whole chains, sound attribute lists, a well-formed error text,
// queries that stay inside the tree, and a serialisation that ends.
#include <cstring>

#include "fuzz/fuzz_input.h"
#include "fuzz/tree_walk.h"
#include "support/chain_check.h"
#include "xml/ezxml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    exact_copy input(data, size);
    ezxml *doc = ezxml_parse_str(input.bytes, input.size);
    require(doc != nullptr, "ezxml_parse_str returned null");
    check_parsed_document(doc);
    ezxml_free(doc);
    return 0;
}
