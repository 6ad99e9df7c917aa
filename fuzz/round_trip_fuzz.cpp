// Parse, serialise, parse the output again: a document that parsed without
// error must come back as the same tree. The serialiser puts a line feed
// before every start tag and after every end tag, so in the second tree each
// child adds exactly two line feeds to its parent's text, at the child's
// place; those, and nothing else, are allowed to differ. Declared attribute
// defaults come back as ordinary attributes, and of a repeated attribute
// only the first is written.
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/fuzz_input.h"
#include "fuzz/tree_walk.h"
#include "xml/ezxml.h"

namespace {

using attribute_pairs = std::vector<std::pair<std::string, std::string>>;

// The attributes the serialiser writes for e: its own, first of each name,
// then the declared defaults that it does not carry.
attribute_pairs written_attributes(ezxml *e, char ***defaults) {
    attribute_pairs out;
    std::set<std::string> own;
    for (char **a = e->attributes; a && *a; a += 2) {
        if (own.insert(a[0]).second) {
            out.emplace_back(a[0], a[1] ? a[1] : "");
        }
    }
    char **declared = nullptr;
    for (size_t i = 0; defaults && defaults[i]; ++i) {
        if (strcmp(defaults[i][0], e->name) == 0) {
            declared = defaults[i];
            break;
        }
    }
    std::set<std::string> seen;
    for (size_t k = 0; declared && declared[1 + 3 * k]; ++k) {
        const char *name = declared[1 + 3 * k];
        const char *value = declared[2 + 3 * k];
        if (seen.insert(name).second && value && !own.count(name)) {
            out.emplace_back(name, value);
        }
    }
    return out;
}

attribute_pairs parsed_attributes(ezxml *e) {
    attribute_pairs out;
    for (char **a = e->attributes; a && *a; a += 2) {
        out.emplace_back(a[0], a[1]);
    }
    return out;
}

std::vector<ezxml *> children_of(ezxml *e) {
    std::vector<ezxml *> out;
    for (ezxml *c = e->child; c; c = c->ordered) {
        out.push_back(c);
    }
    return out;
}

// The text of e as it reads after one round: two line feeds at the place of
// every child. Also gives the offsets at which the children must stand.
std::string text_after_round(ezxml *e, std::vector<size_t> &child_offsets) {
    std::string text = e->text;
    std::string out;
    size_t from = 0;
    for (ezxml *c : children_of(e)) {
        size_t at = c->offset < text.size() ? c->offset : text.size();
        if (at < from) {
            at = from;
        }
        out += text.substr(from, at - from);
        out += '\n';
        child_offsets.push_back(out.size());
        out += '\n';
        from = at;
    }
    out += text.substr(from);
    return out;
}

std::string where(ezxml *e) {
    std::string path;
    for (; e; e = e->parent) {
        path = "/" + std::string(e->name ? e->name : "?") + path;
    }
    return path;
}

void compare_trees(ezxml *original, ezxml *again, char ***defaults) {
    std::vector<std::pair<ezxml *, ezxml *>> pending{{original, again}};
    while (!pending.empty()) {
        auto [a, b] = pending.back();
        pending.pop_back();
        require(strcmp(a->name, b->name) == 0, "name changed at " + where(a));
        require(written_attributes(a, defaults) == parsed_attributes(b),
                "attributes changed at " + where(a));
        std::vector<size_t> offsets;
        std::string expected = text_after_round(a, offsets);
        require(expected == b->text, "text changed at " + where(a) + ": \"" + a->text +
                                         "\" came back as \"" + b->text + "\"");
        std::vector<ezxml *> ca = children_of(a), cb = children_of(b);
        require(ca.size() == cb.size(), "number of children changed at " + where(a));
        for (size_t i = 0; i < ca.size(); ++i) {
            require(cb[i]->offset == offsets[i], "child offset changed at " + where(ca[i]));
            pending.emplace_back(ca[i], cb[i]);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    exact_copy input(data, size);
    ezxml *doc = ezxml_parse_str(input.bytes, input.size);
    if (ezxml_error(doc)[0] != '\0') {
        ezxml_free(doc);
        return 0;
    }
    char *xml = ezxml_toxml(doc);
    size_t length = strlen(xml);
    exact_copy output(reinterpret_cast<const uint8_t *>(xml), length);
    ezxml *again = ezxml_parse_str(output.bytes, output.size);
    require(ezxml_error(again)[0] == '\0', std::string("serialised document does not parse: ") +
                                               ezxml_error(again) + "\n--- output ---\n" + xml);
    auto *d = reinterpret_cast<ezxml_document *>(doc);
    compare_trees(doc, again, d->default_attributes);
    std::string chains = check_tree(again);
    require(chains.empty(), "broken tree after the round: " + chains);
    free(xml);
    ezxml_free(again);
    ezxml_free(doc);
    return 0;
}
