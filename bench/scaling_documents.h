// Documents of one shape at any size, for showing that parsing, writing out
// and freeing cost time and memory in proportion to the input. Shared by
// the scaling benchmark and the resource-bound tests.
#ifndef BENCH_SCALING_DOCUMENTS_H
#define BENCH_SCALING_DOCUMENTS_H

#include <cstdio>
#include <string>

namespace scaling {

enum class shape {
    deep_nesting,        // <a><a><a>...</a></a></a>
    siblings_same_name,  // <r><a/><a/>...</r>
    siblings_many_names, // <r><n0/><n1/>...</r>, every name different
    many_attributes,     // <r a0="" a1="" .../>
    growing_references,  // a long entity referenced over and over
    entity_chain,        // each entity refers to the one declared before it
    interrupted_text,    // text broken up by many child elements
    huge_text,           // one long text
};

inline const char *shape_name(shape s) {
    switch (s) {
    case shape::deep_nesting:
        return "deep_nesting";
    case shape::siblings_same_name:
        return "siblings_same_name";
    case shape::siblings_many_names:
        return "siblings_many_names";
    case shape::many_attributes:
        return "many_attributes";
    case shape::growing_references:
        return "growing_references";
    case shape::entity_chain:
        return "entity_chain";
    case shape::interrupted_text:
        return "interrupted_text";
    case shape::huge_text:
        return "huge_text";
    }
    return "?";
}

// A document of the shape, about `size` bytes long (never much longer).
inline std::string document(shape s, size_t size) {
    std::string out;
    out.reserve(size + 64);
    char piece[64];
    switch (s) {
    case shape::deep_nesting: {
        size_t n = size / 7;
        for (size_t i = 0; i < n; ++i) {
            out += "<a>";
        }
        for (size_t i = 0; i < n; ++i) {
            out += "</a>";
        }
        break;
    }
    case shape::siblings_same_name:
        out = "<r>";
        while (out.size() + 4 < size) {
            out += "<a/>";
        }
        out += "</r>";
        break;
    case shape::siblings_many_names:
        out = "<r>";
        for (size_t i = 0; out.size() + 16 < size; ++i) {
            snprintf(piece, sizeof piece, "<n%zx/>", i);
            out += piece;
        }
        out += "</r>";
        break;
    case shape::many_attributes:
        out = "<r";
        for (size_t i = 0; out.size() + 16 < size; ++i) {
            snprintf(piece, sizeof piece, " a%zx=\"\"", i);
            out += piece;
        }
        out += "/>";
        break;
    case shape::growing_references:
        // Each reference of 3 bytes expands to 20, about as far as the
        // budget of a document (8 units per byte, a reference costing its
        // text's length plus one) pays for.
        out = "<!DOCTYPE r [<!ENTITY e \"a longer replacement\">]><r>";
        while (out.size() + 3 < size) {
            out += "&e;";
        }
        out += "</r>";
        break;
    case shape::entity_chain: {
        out = "<!DOCTYPE r [<!ENTITY e0 \"x\">";
        size_t i = 1;
        for (; out.size() + 64 < size; ++i) {
            snprintf(piece, sizeof piece, "<!ENTITY e%zx \"&e%zx;\">", i, i - 1);
            out += piece;
        }
        snprintf(piece, sizeof piece, "]><r>&e%zx;</r>", i - 1);
        out += piece;
        break;
    }
    case shape::interrupted_text:
        out = "<r>";
        while (out.size() + 12 < size) {
            out += "text<b/>";
        }
        out += "</r>";
        break;
    case shape::huge_text:
        out = "<r>";
        out.append(size > 8 ? size - 8 : 0, 'x');
        out += "</r>";
        break;
    }
    return out;
}

constexpr shape all_shapes[] = {
    shape::deep_nesting,     shape::siblings_same_name, shape::siblings_many_names,
    shape::many_attributes,  shape::growing_references, shape::entity_chain,
    shape::interrupted_text, shape::huge_text,
};

} // namespace scaling

#endif
