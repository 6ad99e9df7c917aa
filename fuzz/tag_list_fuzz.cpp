// The tags-only parser on arbitrary bytes: the same promises as the full
// parser, and no element may carry attributes, instructions or declared
// entities.
#include "fuzz/fuzz_input.h"
#include "fuzz/tree_walk.h"
#include "xml/ezxml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    exact_copy input(data, size);
    ezxml *doc = ezxml_tag_list(input.bytes, input.size);
    require(doc != nullptr, "ezxml_tag_list returned null");
    check_parsed_document(doc);
    auto *d = reinterpret_cast<ezxml_document *>(doc);
    require(d->instructions == reinterpret_cast<char ***>(EZXML_NIL), "tag list kept instructions");
    require(d->default_attributes == reinterpret_cast<char ***>(EZXML_NIL),
            "tag list kept attribute defaults");
    require(d->entities[10] == nullptr, "tag list declared entities");
    for_each_element(doc, [](ezxml *e) {
        require(e->attributes == EZXML_NIL, "tag list gave an element attributes");
    });
    ezxml_free(doc);
    return 0;
}
