// Internal: the scanner state and character tests that the parse loop and
// its markup readers share.
//
// The scanner never takes a NUL byte it meets for the end of the input: it
// writes NULs itself (over each markup's '>', over the '<' after a text run,
// behind names and values), so it carries the real end with it. The end is
// where the input's last byte stood (saved and overwritten with a NUL, so
// that every string operation stops there too) or the first NUL byte the
// input itself held, whichever comes first.
#ifndef EZXML_SCANNER_H
#define EZXML_SCANNER_H

#include <ctype.h>
#include <string.h>

#include "xml/parse_tree.h"
#include "xml/parser.h"
#include "xml/vector_scan.h"

namespace scanning {

struct scanner {
    ezxml_document *doc;
    char *end;              // the end of input; *end is NUL
    bool end_stands_for_gt; // the end is the overwritten last byte, and that byte was '>'
    markup_kinds kinds;
    text_tracker texts;
    char *last_item; // where the latest markup item or text run began
};

// A set of byte values, made at compile time from the characters of a
// literal (never holding NUL): one table entry per byte value, so that
// testing a byte is a single load. A second table also stops at NUL, for
// searches that end at the NUL standing at the end of input. A set of few
// members is also listed, for the block-wise searches.
struct char_set {
    bool in[256] = {};
    bool in_or_nul[256] = {};
    vector_scan::byte_list listed;

    consteval char_set(const char *members) {
        in_or_nul[0] = true;
        for (const char *m = members; *m; ++m)
            in[static_cast<unsigned char>(*m)] = in_or_nul[static_cast<unsigned char>(*m)] = true;
        // Bytes from \t to \r are listed as one range when the set holds
        // them all. A set that holds the space, tab, line feed and carriage
        // return takes every byte up to the space as a range (one comparison
        // for the four; the few control bytes it also takes are rare and
        // told apart by the table). Its other members are listed one by one.
        if (in[' '] && in['\t'] && in['\n'] && in['\r']) {
            listed.range_first = 0;
            listed.range_last = ' ';
        } else if (in['\t'] && in['\n'] && in['\v'] && in['\f'] && in['\r']) {
            listed.range_first = '\t';
            listed.range_last = '\r';
            listed.range_exact = true;
        }
        int count = 0;
        for (const char *m = members; *m; ++m)
            if (!listed.in_range(static_cast<unsigned char>(*m)))
                ++count;
        if (count > vector_scan::byte_list::most) {
            listed = {}; // not listed
            return;
        }
        for (const char *m = members; *m; ++m)
            if (!listed.in_range(static_cast<unsigned char>(*m)))
                listed.members[listed.count++] = static_cast<unsigned char>(*m);
    }
    constexpr bool has(char c) const { return in[static_cast<unsigned char>(c)]; }
};

// The C locale's white space, and the letters that begin a name (the C
// locale's alphabet, ':' and '_').
inline constexpr char_set space_chars{" \t\n\v\f\r"};
inline constexpr char_set name_start_chars{
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:_"};

// What ends an element name in a start tag, an attribute name, and a name
// in a closing tag; what stands between an attribute name and its value;
// the separators skipped inside markup; what a document type declaration
// is scanned for.
inline constexpr char_set tag_name_ends{"\t\r\n />"};
inline constexpr char_set attribute_name_ends{"\t\r\n =/>"};
inline constexpr char_set closing_name_ends{"\t\r\n >"};
inline constexpr char_set before_value{"\t\r\n ="};
inline constexpr char_set separators{"\t\r\n "};
inline constexpr char_set doctype_delimiters{"[]>"};

// What ends a text run, and the bytes that make a text decode: a run that
// reaches its '<' without one of them is taken as it stands. Likewise for
// attribute values in either quote that are not declared otherwise.
inline constexpr char_set text_stops{"<&\r"};
inline constexpr char_set double_quoted_stops{"\"&\r\t\n\v\f"};
inline constexpr char_set single_quoted_stops{"'&\r\t\n\v\f"};

inline bool is_space(char c) {
    return space_chars.has(c);
}

inline bool is_name_start(char c) {
    return name_start_chars.has(c);
}

// The first position at or after p (p <= end) whose character is in set, or
// end, read one byte at a time. Relies on *end being NUL, which no set
// holds, to stop there without comparing every position with end; a NUL
// before end (which the scanner never leaves ahead of itself) is passed
// over like any non-member.
inline char *find_any_bytewise(char *p, char *end, const char_set &set) {
    const bool *stop = set.in_or_nul;
    auto at = [&](size_t i) { return stop[static_cast<unsigned char>(p[i])]; };
    for (;;) {
        // Four bytes a step; the NUL at end stops every step in time, so
        // nothing past end is read.
        for (;;) {
            if (at(0))
                break;
            if (at(1)) {
                p += 1;
                break;
            }
            if (at(2)) {
                p += 2;
                break;
            }
            if (at(3)) {
                p += 3;
                break;
            }
            p += 4;
        }
        if (*p || p >= end)
            return p;
        ++p;
    }
}

// The same search, 16 bytes at a time where the target can and the set is
// listed; the byte loop takes the fewer than 16 bytes left before end.
// Always inlined, so that the set is a constant where it is searched.
[[gnu::always_inline]] inline char *find_any(char *p, char *end, const char_set &set) {
    if (vector_scan::search_blocks(&p, end, set.listed, set.in))
        return p;
    return find_any_bytewise(p, end, set);
}

// The first position at or after p (p <= end) whose character is not in
// set; end at the latest, since NUL is in no set. The runs it passes (white
// space and '=' inside markup) are a byte or two, for which a byte loop
// is quickest.
inline char *skip_all(char *p, const char_set &set) {
    while (set.has(*p))
        ++p;
    return p;
}

inline bool starts_with(const char *p, const char *end, const char *literal) {
    size_t n = strlen(literal);
    return static_cast<size_t>(end - p) >= n && memcmp(p, literal, n) == 0;
}

inline char *find_literal(char *from, char *end, const char *literal) {
    return static_cast<char *>(memmem(from, end - from, literal, strlen(literal)));
}

// Whether p, where a '>' is expected, holds one: the real character, or the
// end of input standing in for the '>' that was the input's last byte.
inline bool closes_markup(const scanner &sc, const char *p) {
    return p < sc.end ? *p == '>' : sc.end_stands_for_gt;
}

// Records an error; the parse ends with it. An allocation that failed
// because the document's budget ran out is reported as that.
inline char *fail_out_of_memory(scanner &sc, char *position) {
    const char *overrun = budget_overrun_message(sc.texts.budget);
    ezxml_err(sc.doc, position, "%s", overrun ? overrun : "out of memory");
    return nullptr;
}

// Whether the document's budget has run out (a table that could not grow
// or a reference left as written need not have failed the step at hand);
// if so, records the error that ends the parse.
inline bool budget_ran_out(scanner &sc, char *position) {
    if (!budget_overrun_happened(sc.texts.budget))
        return false;
    ezxml_err(sc.doc, position, "%s", budget_overrun_message(sc.texts.budget));
    return true;
}

// Readers of one markup item each, called with the markup start (the
// character after '<'). Each returns the position of the item's last
// character (normally its '>'), or null when the parse has ended with an
// error that it recorded.
char *start_tag(scanner &sc, char *markup);
char *closing_tag(scanner &sc, char *markup);
char *comment(scanner &sc, char *markup);
char *cdata_section(scanner &sc, char *markup);
char *doctype(scanner &sc, char *markup);
char *processing_instruction(scanner &sc, char *markup);

} // namespace scanning

#endif
