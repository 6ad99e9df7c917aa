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
// class (one that searches stop at: see chars.h), or end. Relies on *end
// being NUL, which every such class holds, to stop there without comparing
// every position with end; a NUL before end (which the scanner never leaves
// ahead of itself) is passed over like any non-member.
inline char *find_any(char *p, char *end, char_class stops) {
    assert((stops & ~cc_stop_classes) == 0 && *end == '\0');
    const uint32_t *classes = char_classes.classes;
    auto at = [&](size_t i) { return classes[static_cast<unsigned char>(p[i])] & stops; };
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

// The first position at or after p (p <= end) whose character is not in
// the class; end at the latest, since NUL belongs to no class of members.
inline char *skip_all(char *p, char_class members) {
    assert((members & cc_stop_classes) == 0);
    while (is(*p, members))
        ++p;
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
    if (!budget_overrun_happened(sc.state.budget))
        return false;
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
