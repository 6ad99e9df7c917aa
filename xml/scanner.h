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

#include <assert.h>
#include <string.h>

#include "xml/chars.h"
#include "xml/parse_state.h"
#include "xml/parser.h"
#include "xml/vector_scan.h"

namespace scanning {

struct scanner {
    ezxml_document *doc;
    char *end;              // the end of input; *end is NUL
    bool end_stands_for_gt; // the end is the overwritten last byte, and that byte was '>'
    markup_kinds kinds;
    parse_state state; // never null: the scanner always has one
    char *last_item;   // where the latest markup item or text run began
};

// The byte classes the scanner tests and searches for, named as its readers
// use them; the classes themselves are chars.h's one table.
//
// The C locale's white space, and the letters that begin a name (the C
// locale's alphabet, ':' and '_').
inline constexpr char_class space_chars = cc_space;
inline constexpr char_class name_start_chars = cc_name_start;

// What ends an element name in a start tag, an attribute name, and a name
// in a closing tag; what stands between an attribute name and its value;
// the separators skipped inside markup; what a document type declaration
// is scanned for.
inline constexpr char_class tag_name_ends = cc_tag_name_end;
inline constexpr char_class attribute_name_ends = cc_attribute_name_end;
inline constexpr char_class closing_name_ends = cc_closing_name_end;
inline constexpr char_class before_value = cc_before_value;
inline constexpr char_class separators = cc_blank;
inline constexpr char_class doctype_delimiters = cc_doctype_delimiter;

// What ends a text run, and the bytes that make a text decode: a run that
// reaches its '<' without one of them is taken as it stands. Likewise for
// attribute values in either quote that are not declared otherwise.
inline constexpr char_class text_stops = cc_text_stop;
inline constexpr char_class double_quoted_stops = cc_double_quoted_stop;
inline constexpr char_class single_quoted_stops = cc_single_quoted_stop;

inline bool is_name_start(char c) {
    return is(c, name_start_chars);
}

// The first position at or after p (p <= end) whose character is in the
// class (one that searches stop at: see chars.h), or end, read one byte at
// a time. Relies on *end
// being NUL, which every such class holds, to stop there without comparing
// every position with end; a NUL before end (which the scanner never leaves
// ahead of itself) is passed over like any non-member.
inline char *find_any_bytewise(char *p, char *end, char_class stops) {
    assert((stops & ~cc_stop_classes) == 0 && *end == '\0');
    const uint32_t *classes = char_classes.classes;
    auto at = [&](size_t i) { return classes[static_cast<unsigned char>(p[i])] & stops; };
    for (;;) {
        // Four bytes a step; the NUL at end stops every step in time, so
        // nothing past end is read.
        for (;;) {
            if (at(0)) {
                break;
            }
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
        if (*p || p >= end) {
            return p;
        }
        ++p;
    }
}

// The members of each stop class, listed for the block-wise search
// (indexed by the class's bit). Bytes from \t to \r are listed as one range
// when the class holds them all. A class that holds the space, tab, line
// feed and carriage return takes every byte up to the space as a range (one
// comparison for the four; the few control bytes it also takes are rare and
// told apart by the table). Other members are listed one by one; a class
// with too many is not listed, and searched byte by byte.
struct stop_class_lists {
    vector_scan::byte_list of[32];
};

consteval vector_scan::byte_list listed_members(uint32_t stops) {
    auto in = [stops](int c) { return (char_classes.classes[c] & stops) != 0; };
    vector_scan::byte_list listed;
    if (in(' ') && in('\t') && in('\n') && in('\r')) {
        listed.range_first = 0;
        listed.range_last = ' ';
    } else if (in('\t') && in('\n') && in('\v') && in('\f') && in('\r')) {
        listed.range_first = '\t';
        listed.range_last = '\r';
        listed.range_exact = true;
    }
    for (int c = 1; c < 256; ++c) {
        if (!in(c) || listed.in_range(static_cast<unsigned char>(c))) {
            continue;
        }
        if (listed.count == vector_scan::byte_list::most) {
            return {}; // not listed
        }
        listed.members[listed.count++] = static_cast<unsigned char>(c);
    }
    return listed;
}

consteval stop_class_lists make_stop_class_lists() {
    stop_class_lists lists{};
    for (int bit = 0; bit < 32; ++bit) {
        if (cc_stop_classes & (1u << bit)) {
            lists.of[bit] = listed_members(1u << bit);
        }
    }
    return lists;
}

inline constexpr stop_class_lists stop_lists = make_stop_class_lists();

// The same search, 16 bytes at a time where the target can and the class is
// listed; the byte loop takes the fewer than 16 bytes left before end.
// Always inlined, so that the class, and with it its list, is a constant
// where it is searched. One class at a time: each has its own list.
[[gnu::always_inline]] inline char *find_any(char *p, char *end, char_class stops) {
    assert((stops & ~cc_stop_classes) == 0 && (stops & (stops - 1)) == 0 && *end == '\0');
    auto member = [stops](char c) { return c != '\0' && is(c, stops); };
    if (vector_scan::search_blocks(&p, end, stop_lists.of[__builtin_ctz(stops)], member)) {
        return p;
    }
    return find_any_bytewise(p, end, stops);
}

// The first position at or after p (p <= end) whose character is not in
// the class; end at the latest, since NUL belongs to no class of members.
inline char *skip_all(char *p, char_class members) {
    assert((members & cc_stop_classes) == 0);
    while (is(*p, members)) {
        ++p;
    }
    return p;
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
    const char *overrun = budget_overrun_message(sc.state.budget);
    ezxml_err(sc.doc, position, "%s", overrun ? overrun : "out of memory");
    return nullptr;
}

// Whether the document's budget has run out (a table that could not grow
// or a reference left as written need not have failed the step at hand);
// if so, records the error that ends the parse.
inline bool budget_ran_out(scanner &sc, char *position) {
    if (!budget_overrun_happened(sc.state.budget)) {
        return false;
    }
    ezxml_err(sc.doc, position, "%s", budget_overrun_message(sc.state.budget));
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
