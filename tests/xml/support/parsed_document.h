// A parsed document together with the buffer it was cut from, for tests of
// the parsers: the buffer lives exactly as long as the document.
#ifndef XML_TEST_SUPPORT_PARSED_DOCUMENT_H
#define XML_TEST_SUPPORT_PARSED_DOCUMENT_H

#include <string>
#include <vector>

#include "xml/ezxml.h"

enum class parser_kind { full, tags_only };

struct parsed_document {
    std::vector<char> buffer;
    ezxml *root = nullptr;

    explicit parsed_document(const std::string &text, parser_kind kind = parser_kind::full)
        : buffer(text.begin(), text.end()) {
        // A buffer of the exact length, so that reading past it is caught.
        char *data = buffer.empty() ? nullptr : buffer.data();
        static char none[1];
        if (!data) {
            data = none;
        }
        root = kind == parser_kind::full ? ezxml_parse_str(data, buffer.size())
                                         : ezxml_tag_list(data, buffer.size());
    }
    ~parsed_document() { ezxml_free(root); }
    parsed_document(const parsed_document &) = delete;
    parsed_document &operator=(const parsed_document &) = delete;

    ezxml_document *doc() const { return reinterpret_cast<ezxml_document *>(root); }
    std::string error() const { return ezxml_error(root); }
    bool inside_buffer(const char *p) const {
        return !buffer.empty() && p >= buffer.data() && p < buffer.data() + buffer.size();
    }
};

// How describe shows each element's text and its offset in its parent's
// text; as they stand unless a test says otherwise (the round trip shows
// both without the line feeds that the serialiser adds).
struct text_view {
    std::string (*text)(const char *text) = nullptr;
    size_t (*offset)(const char *parent_text, size_t offset) = nullptr;
};

// The element tree in one line, for comparing whole trees:
// name{attr="value" ...}"text"@offset[children...]. Walks without
// recursion.
inline std::string describe(const ezxml *root, const text_view &view = {}) {
    std::string out;
    struct frame {
        const ezxml *element;
        bool closing;
    };
    std::vector<frame> stack{{root, false}};
    while (!stack.empty()) {
        frame f = stack.back();
        stack.pop_back();
        if (f.closing) {
            out += "]";
            continue;
        }
        const ezxml *e = f.element;
        out += e->name ? e->name : "(null)";
        out += "{";
        for (char **a = e->attributes; a && *a; a += 2) {
            out += a[0];
            out += "=\"";
            out += a[1];
            out += "\" ";
        }
        out += "}\"";
        out += view.text ? view.text(e->text) : std::string(e->text);
        size_t offset =
            view.offset && e->parent ? view.offset(e->parent->text, e->offset) : e->offset;
        out += "\"@" + std::to_string(offset) + "[";
        stack.push_back({e, true});
        std::vector<const ezxml *> children;
        for (const ezxml *c = e->child; c; c = c->ordered) {
            children.push_back(c);
        }
        for (auto it = children.rbegin(); it != children.rend(); ++it) {
            stack.push_back({*it, false});
        }
    }
    return out;
}

#endif
