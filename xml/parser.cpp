// The parser core: one forward pass over a writable buffer that cuts names,
// values and texts in place and builds the element tree as it goes.
#include <stdlib.h>
#include <string.h>

#include "xml/element_store.h"
#include "xml/entities.h"
#include "xml/scanner.h"

namespace {

using namespace scanning;

// The markup item that starts after a '<' (which may already have been
// overwritten). Returns the position of the item's last character, or null
// when the parse has ended with an error.
char *markup_item(scanner &sc, char *markup) {
    bool full = sc.kinds == markup_kinds::full;
    if (markup < sc.end && is_name_start(*markup)) {
        return start_tag(sc, markup);
    }
    if (markup < sc.end && *markup == '/') {
        return closing_tag(sc, markup);
    }
    if (starts_with(markup, sc.end, "!--")) {
        return comment(sc, markup);
    }
    if (full && starts_with(markup, sc.end, "![CDATA[")) {
        return cdata_section(sc, markup);
    }
    if (full && starts_with(markup, sc.end, "!DOCTYPE")) {
        return doctype(sc, markup);
    }
    if (full && markup < sc.end && *markup == '?') {
        return processing_instruction(sc, markup);
    }
    ezxml_err(sc.doc, markup, "unexpected <");
    return nullptr;
}

void end_checks(scanner &sc) {
    ezxml *open = sc.doc->current;
    if (!open) {
        return;
    }
    if (open->name) {
        ezxml_err(sc.doc, sc.last_item, "unclosed tag <%s>", open->name);
    } else {
        ezxml_err(sc.doc, sc.last_item, "root tag missing");
    }
}

// The '<' that ends the text run at p (null when none comes before end),
// and whether the run holds nothing to decode: it does when the search for
// its end meets a byte that makes a text decode first.
char *find_text_end(char *p, char *end, bool *plain) {
    char *q = find_any(p, end, text_stops);
    *plain = q < end && *q == '<';
    if (*plain) {
        return q;
    }
    return static_cast<char *>(memchr(q, '<', static_cast<size_t>(end - q)));
}

// Parses from the first '<' at lt to the end of input.
void scan_markup(scanner &sc, char *lt) {
    for (;;) {
        sc.last_item = lt + 1;
        char *p = markup_item(sc, lt + 1);
        if (!p || budget_ran_out(sc, sc.last_item)) {
            return;
        }

        // After the markup: overwrite its last character and look at what
        // follows, a further markup item or a text run up to the next '<'.
        if (p >= sc.end) {
            return end_checks(sc);
        }
        *p++ = '\0';
        if (p == sc.end) {
            return end_checks(sc);
        }
        if (*p == '<') {
            lt = p;
            continue;
        }
        sc.last_item = p;
        bool plain;
        lt = find_text_end(p, sc.end, &plain);
        if (!lt) {
            return end_checks(sc); // text behind the last markup is dropped
        }
        append_run(sc.doc, p, lt - p, '&', sc.state, plain);
        if (sc.state.out_of_memory) {
            fail_out_of_memory(sc, p);
            return;
        }
        if (budget_ran_out(sc, p)) {
            return;
        }
    }
}

} // namespace

ezxml *parse_buffer(char *s, size_t len, markup_kinds kinds, parse_budget *budget) {
    parse_budget unlimited = document_budget(len, no_memory_limit);
    if (!budget) {
        budget = &unlimited;
    }
    auto *doc = reinterpret_cast<ezxml_document *>(ezxml_new(nullptr));
    if (!doc) {
        return nullptr;
    }
    doc->source = s;
    // The record and the entity list that ezxml_new made.
    if (!budget_charge(budget, allocation_cost(sizeof(record_header) + sizeof(ezxml_document)) +
                                   allocation_cost(default_entity_pointers * sizeof(char *)))) {
        return ezxml_err(doc, nullptr, "%s", budget_overrun_message(budget));
    }
    if (!s || len == 0) {
        return ezxml_err(doc, nullptr, "root tag missing");
    }

    bool marked_utf16 = static_cast<unsigned char>(s[0]) >= 0xFE;
    doc->utf8_copy = utf16_to_utf8(&s, &len, budget);
    if (marked_utf16 && !doc->utf8_copy) { // its UTF-8 copy could not be made
        const char *overrun = budget_overrun_message(budget);
        return ezxml_err(doc, nullptr, "%s", overrun ? overrun : "out of memory");
    }
    doc->work_start = s;
    doc->work_end = s + len;
    // UTF-16 input holding nothing but its byte order mark is as empty as an
    // empty input, and has no last byte to save.
    if (len == 0) {
        return ezxml_err(doc, nullptr, "root tag missing");
    }

    char *last = s + len - 1;
    unsigned char saved_last = static_cast<unsigned char>(*last);
    *last = '\0';
    char *input_nul = static_cast<char *>(memchr(s, '\0', len - 1));

    scanner sc{};
    start_state(sc.state, doc, budget);
    sc.doc = doc;
    sc.end = input_nul ? input_nul : last;
    // The saved byte only stands in for what was at the very end; a NUL the
    // input held hides everything behind it, that last byte included.
    sc.end_stands_for_gt = !input_nul && saved_last == '>';
    sc.kinds = kinds;
    sc.last_item = s;

    if (char *lt = static_cast<char *>(memchr(s, '<', sc.end - s))) {
        scan_markup(sc, lt);
    } else {
        ezxml_err(doc, sc.end, "root tag missing");
    }
    finish_state(sc.state);
    return &doc->root;
}

ezxml *ezxml_parse_str(char *s, size_t len) {
    return parse_buffer(s, len, markup_kinds::full);
}

// The reduced parser for documents of plain elements, text and comments:
// attributes, CDATA, DOCTYPE and instructions are refused.
ezxml *ezxml_tag_list(char *s, size_t len) {
    return parse_buffer(s, len, markup_kinds::tags_only);
}
