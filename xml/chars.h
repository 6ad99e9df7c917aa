// Internal: the library's one table of byte classes, and the small text
// helpers that the parser, the decoder and the declaration scanner share.
//
// Every byte value carries a set of named classes, one bit each (the way
// pugixml classifies bytes): testing a byte for a class, or for any of
// several, is one load and a mask. The table is made at compile time from
// the members of each class, written out below once.
#ifndef EZXML_CHARS_H
#define EZXML_CHARS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

enum char_class : uint32_t {
    // Classes of members.
    cc_space = 1u << 0,        // the C locale's white space; bytes from 0x80 up never are
    cc_blank = 1u << 1,        // white space inside markup and declarations (not \v, \f)
    cc_name_start = 1u << 2,   // what begins a name: the C locale's letters, ':' and '_'
    cc_before_value = 1u << 3, // what stands between an attribute name and its value

    // Classes that searches stop at (find_any in scanner.h, the decoder's
    // scan). The NUL byte belongs to each of them, so that a search ends at
    // the NUL standing at the end of its text without comparing positions.
    cc_tag_name_end = 1u << 4,        // ends an element name in a start tag
    cc_attribute_name_end = 1u << 5,  // ends an attribute name
    cc_closing_name_end = 1u << 6,    // ends the name in a closing tag
    cc_doctype_delimiter = 1u << 7,   // what a document type declaration is scanned for
    cc_text_stop = 1u << 8,           // ends a text run or makes it decode
    cc_double_quoted_stop = 1u << 9,  // ends an undeclared "..." value or makes it decode
    cc_single_quoted_stop = 1u << 10, // the same for '...'
    cc_scan_attribute = 1u << 11, // the decoder's scan in attribute values: references, white space
    cc_scan_parameter = 1u << 12, // ... in entity values: both kinds of reference
    cc_scan_reference = 1u << 13, // ... elsewhere: references

    // The bytes that make decoding in a mode change anything: a text
    // without one of them decodes to itself (decode.cpp's mode rows).
    cc_decodes_cdata = 1u << 14,
    cc_decodes_attribute = 1u << 15,
    cc_decodes_normalised = 1u << 16,
    cc_decodes_parameter = 1u << 17,
    cc_decodes_text = 1u << 18,
};

constexpr uint32_t cc_stop_classes = cc_tag_name_end | cc_attribute_name_end | cc_closing_name_end |
                                     cc_doctype_delimiter | cc_text_stop | cc_double_quoted_stop |
                                     cc_single_quoted_stop | cc_scan_attribute | cc_scan_parameter |
                                     cc_scan_reference;

struct char_table {
    uint32_t classes[256];
};

consteval char_table make_char_table() {
    struct member_list {
        uint32_t cls;
        const char *members;
    };
    constexpr member_list lists[] = {
        {cc_space, " \t\n\v\f\r"},
        {cc_blank, " \t\n\r"},
        {cc_name_start, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:_"},
        {cc_before_value, "\t\r\n ="},
        {cc_tag_name_end, "\t\r\n />"},
        {cc_attribute_name_end, "\t\r\n =/>"},
        {cc_closing_name_end, "\t\r\n >"},
        {cc_doctype_delimiter, "[]>"},
        {cc_text_stop, "<&\r"},
        {cc_double_quoted_stop, "\"&\r\t\n\v\f"},
        {cc_single_quoted_stop, "'&\r\t\n\v\f"},
        {cc_scan_attribute, "&\t\n\v\f\r"},
        {cc_scan_parameter, "&%"},
        {cc_scan_reference, "&"},
        {cc_decodes_cdata, "\r"},
        {cc_decodes_attribute, "&\r\t\n\v\f"},
        {cc_decodes_normalised, "&\r\t\n\v\f "},
        {cc_decodes_parameter, "%&\r"},
        {cc_decodes_text, "&\r"},
    };
    char_table table{};
    for (const member_list &list : lists) {
        for (const char *m = list.members; *m; ++m) {
            table.classes[static_cast<unsigned char>(*m)] |= list.cls;
        }
    }
    table.classes[0] = cc_stop_classes;
    return table;
}

inline constexpr char_table char_classes = make_char_table();

// Whether c belongs to any of the classes.
constexpr bool is(char c, uint32_t classes) {
    return char_classes.classes[static_cast<unsigned char>(c)] & classes;
}

inline bool is_space(char c) {
    return is(c, cc_space);
}

inline bool is_blank(char c) {
    return is(c, cc_blank);
}

// Whether [p, end) begins with literal.
inline bool starts_with(const char *p, const char *end, const char *literal) {
    size_t n = strlen(literal);
    return static_cast<size_t>(end - p) >= n && memcmp(p, literal, n) == 0;
}

// Whether the string text begins with prefix.
inline bool starts_with(const char *text, const char *prefix) {
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

// The UTF-8 form of v (1 to 0x7FFFFFFF) at out, up to utf8_longest bytes:
// b continuation bytes for a value of n significant bits, b = (n - 2) / 5.
// Surrogates and values above U+10FFFF are encoded like any other, as
// documents and callers have always had them. Returns the number of bytes
// written.
constexpr size_t utf8_longest = 6;

inline size_t utf8_encode(uint32_t v, char *out) {
    if (v < 0x80) {
        out[0] = static_cast<char>(v);
        return 1;
    }
    int bits = 32 - __builtin_clz(v);
    int b = (bits - 2) / 5;
    out[0] = static_cast<char>((0xFFu << (7 - b)) | (v >> (6 * b)));
    for (int i = 1; i <= b; ++i) {
        out[i] = static_cast<char>(0x80u | ((v >> (6 * (b - i))) & 0x3Fu));
    }
    return static_cast<size_t>(b) + 1;
}

#endif
