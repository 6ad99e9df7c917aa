// Walking a parsed tree without recursion, and the checks that every parsed
// document must pass, whatever its input.
#ifndef FUZZ_TREE_WALK_H
#define FUZZ_TREE_WALK_H

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "support/chain_check.h"
#include "xml/ezxml.h"

// Calls visit on root and every element below it, in document order.
template <typename Visit> void for_each_element(ezxml *root, Visit visit) {
    std::vector<ezxml *> pending{root};
    while (!pending.empty()) {
        ezxml *e = pending.back();
        pending.pop_back();
        visit(e);
        std::vector<ezxml *> children;
        for (ezxml *c = e->child; c; c = c->ordered) {
            children.push_back(c);
        }
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
}

inline void check_error_text(ezxml *doc) {
    const char *error = ezxml_error(doc);
    require(error != nullptr, "ezxml_error returned null");
    size_t length = strlen(error);
    require(length <= 127, "error text longer than 127 characters");
    if (length == 0) {
        auto *d = reinterpret_cast<ezxml_document *>(doc);
        require(d->current == nullptr, "no error, yet an element is still open");
        require(doc->name != nullptr, "no error, yet no root element");
    } else {
        require(strncmp(error, "[error near line ", 17) == 0, std::string("odd error: ") + error);
    }
}

// Every query answers from inside the tree: the first child of each name,
// every attribute, every instruction target.
inline void check_queries(ezxml *doc) {
    for_each_element(doc, [](ezxml *e) {
        for (ezxml *c = e->child; c; c = c->ordered) {
            ezxml *first = ezxml_child(e, c->name);
            require(first != nullptr && strcmp(first->name, c->name) == 0,
                    "ezxml_child misses a child");
            int index = 0;
            for (ezxml *same = first; same && same != c; same = same->next) {
                ++index;
            }
            require(ezxml_idx(first, index) == c, "ezxml_idx does not reach a child");
        }
        for (char **a = e->attributes; a && *a; a += 2) {
            require(ezxml_attr(e, a[0]) != nullptr, "ezxml_attr misses an attribute");
        }
    });
    auto *d = reinterpret_cast<ezxml_document *>(doc);
    for (char ***entry = d->instructions; entry && *entry; ++entry) {
        const char **contents = ezxml_pi(doc, (*entry)[0]);
        require(contents && contents[0], "ezxml_pi misses a target");
    }
    // A path query along the first children finds the deepest of them.
    if (doc->child) {
        ezxml *deeper = doc->child->child ? doc->child->child : doc->child;
        ezxml *expected = ezxml_child(ezxml_child(doc, doc->child->name), deeper->name);
        if (deeper == doc->child) {
            expected = ezxml_child(doc, doc->child->name);
        }
        ezxml *found = deeper == doc->child ? ezxml_get(doc, doc->child->name, 0, "")
                                            : ezxml_get(doc, doc->child->name, 0, deeper->name, -1);
        require(found == expected, "ezxml_get disagrees with ezxml_child");
    }
}

inline void check_parsed_document(ezxml *doc) {
    std::string chains = check_tree(doc);
    require(chains.empty(), "broken tree: " + chains);
    check_error_text(doc);
    check_queries(doc);
    char *xml = ezxml_toxml(doc);
    require(xml != nullptr, "ezxml_toxml returned null");
    free(xml);
}

#endif
