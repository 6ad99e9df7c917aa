// The parsers compared, each behind the same three calls: parse a writable
// copy of a document into a tree, say whether that failed, release the
// tree. Each is used the way its own users parse a whole document into
// memory:
//  - ezxml: ezxml_parse_str, in place;
//  - pugixml: xml_document::load_buffer_inplace with the default flags;
//  - expat: a parser per document whose callbacks build a plain tree of
//    elements (name, attributes and text in heap blocks);
//  - libxml2: xmlReadMemory (with XML_PARSE_HUGE, so deep documents are
//    not refused by its default depth limit);
//  - tinyxml2: XMLDocument::Parse, which copies the text it is given.
#ifndef BENCH_PARSERS_PEERS_H
#define BENCH_PARSERS_PEERS_H

#include <expat.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <pugixml.hpp>
#include <tinyxml2.h>

#include <cstdlib>
#include <cstring>

#include "xml/ezxml.h"

namespace peers {

struct peer {
    const char *name;
    void *(*parse)(char *text, size_t length);
    bool (*failed)(void *tree);
    void (*release)(void *tree);
};

// ezxml

inline void *ezxml_parse(char *text, size_t length) {
    return ezxml_parse_str(text, length);
}

inline bool ezxml_failed(void *tree) {
    return ezxml_error(static_cast<ezxml *>(tree))[0] != '\0';
}

inline void ezxml_release(void *tree) {
    ezxml_free(static_cast<ezxml *>(tree));
}

// pugixml

struct pugi_tree {
    pugi::xml_document document;
    bool failed;
};

inline void *pugi_parse(char *text, size_t length) {
    auto *tree = new pugi_tree;
    tree->failed = !tree->document.load_buffer_inplace(text, length);
    return tree;
}

inline bool pugi_failed(void *tree) {
    return static_cast<pugi_tree *>(tree)->failed;
}

inline void pugi_release(void *tree) {
    delete static_cast<pugi_tree *>(tree);
}

// expat, building a tree

struct expat_node {
    expat_node *parent;
    expat_node *first_child;
    expat_node *last_child;
    expat_node *next_sibling;
    char *text; // heap block, grown as character data arrives
    size_t text_length;
    size_t text_capacity;
    const char **attributes; // name, value, ..., null; inside this node's block
    const char *name;        // inside this node's block
};

struct expat_tree {
    expat_node *root;
    expat_node *current;
    bool failed;
};

// One block per element: the node, its attribute pointers, then its name
// and every attribute string.
inline void XMLCALL expat_start(void *data, const XML_Char *name, const XML_Char **attrs) {
    auto *tree = static_cast<expat_tree *>(data);
    size_t pointers = 1, bytes = strlen(name) + 1;
    for (const XML_Char **a = attrs; *a; ++a, ++pointers) {
        bytes += strlen(*a) + 1;
    }
    auto *node =
        static_cast<expat_node *>(malloc(sizeof(expat_node) + pointers * sizeof(char *) + bytes));
    if (!node) {
        abort();
    }
    *node = expat_node{};
    node->attributes = reinterpret_cast<const char **>(node + 1);
    char *strings = reinterpret_cast<char *>(node->attributes + pointers);
    auto copy = [&](const char *s) {
        size_t n = strlen(s) + 1;
        memcpy(strings, s, n);
        char *at = strings;
        strings += n;
        return at;
    };
    node->name = copy(name);
    size_t k = 0;
    for (const XML_Char **a = attrs; *a; ++a) {
        node->attributes[k++] = copy(*a);
    }
    node->attributes[k] = nullptr;

    node->parent = tree->current;
    if (!tree->current) {
        tree->root = node;
    } else if (tree->current->last_child) {
        tree->current->last_child->next_sibling = node;
        tree->current->last_child = node;
    } else {
        tree->current->first_child = tree->current->last_child = node;
    }
    tree->current = node;
}

inline void XMLCALL expat_end(void *data, const XML_Char *) {
    auto *tree = static_cast<expat_tree *>(data);
    tree->current = tree->current->parent;
}

inline void XMLCALL expat_text(void *data, const XML_Char *s, int length) {
    expat_node *node = static_cast<expat_tree *>(data)->current;
    if (!node || length <= 0) {
        return;
    }
    size_t need = node->text_length + static_cast<size_t>(length) + 1;
    if (need > node->text_capacity) {
        size_t capacity = node->text_capacity ? node->text_capacity * 2 : 16;
        while (capacity < need) {
            capacity *= 2;
        }
        node->text = static_cast<char *>(realloc(node->text, capacity));
        if (!node->text) {
            abort();
        }
        node->text_capacity = capacity;
    }
    memcpy(node->text + node->text_length, s, static_cast<size_t>(length));
    node->text_length += static_cast<size_t>(length);
    node->text[node->text_length] = '\0';
}

inline void expat_free_nodes(expat_node *node) {
    // Without recursion, so deep documents need no deep stack.
    while (node) {
        if (node->first_child) {
            expat_node *child = node->first_child;
            node->first_child = nullptr;
            node = child;
            continue;
        }
        expat_node *up = node->parent;
        expat_node *next = node->next_sibling;
        free(node->text);
        free(node);
        node = next ? next : up;
    }
}

inline void *expat_parse(char *text, size_t length) {
    auto *tree = new expat_tree{};
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, tree);
    XML_SetElementHandler(parser, expat_start, expat_end);
    XML_SetCharacterDataHandler(parser, expat_text);
    tree->failed = XML_Parse(parser, text, static_cast<int>(length), XML_TRUE) != XML_STATUS_OK;
    XML_ParserFree(parser);
    return tree;
}

inline bool expat_failed(void *tree) {
    return static_cast<expat_tree *>(tree)->failed;
}

inline void expat_release(void *data) {
    auto *tree = static_cast<expat_tree *>(data);
    expat_free_nodes(tree->root);
    delete tree;
}

// libxml2

inline void *libxml2_parse(char *text, size_t length) {
    return xmlReadMemory(text, static_cast<int>(length), nullptr, nullptr,
                         XML_PARSE_HUGE | XML_PARSE_NONET | XML_PARSE_NOERROR |
                             XML_PARSE_NOWARNING);
}

inline bool libxml2_failed(void *tree) {
    return tree == nullptr;
}

inline void libxml2_release(void *tree) {
    if (tree) {
        xmlFreeDoc(static_cast<xmlDocPtr>(tree));
    }
}

// tinyxml2

inline void *tinyxml2_parse(char *text, size_t length) {
    auto *document = new tinyxml2::XMLDocument;
    document->Parse(text, length);
    return document;
}

inline bool tinyxml2_failed(void *tree) {
    return static_cast<tinyxml2::XMLDocument *>(tree)->Error();
}

inline void tinyxml2_release(void *tree) {
    delete static_cast<tinyxml2::XMLDocument *>(tree);
}

inline const peer all[] = {
    {"ezxml", ezxml_parse, ezxml_failed, ezxml_release},
    {"pugixml", pugi_parse, pugi_failed, pugi_release},
    {"expat", expat_parse, expat_failed, expat_release},
    {"libxml2", libxml2_parse, libxml2_failed, libxml2_release},
    {"tinyxml2", tinyxml2_parse, tinyxml2_failed, tinyxml2_release},
};

// Elements in an ezxml tree, counted without recursion.
inline size_t count_elements(const ezxml *root) {
    size_t n = 0;
    const ezxml *e = root;
    while (e) {
        ++n;
        if (e->child) {
            e = e->child;
            continue;
        }
        while (e && e != root && !e->ordered) {
            e = e->parent;
        }
        if (!e || e == root) {
            break;
        }
        e = e->ordered;
    }
    return n;
}

} // namespace peers

#endif
