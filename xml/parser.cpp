// The parser core: one forward pass over a writable buffer that cuts names,
// values and texts in place and builds the element tree as it goes.
//
// The scanner never takes a NUL byte it meets for the end of the input: it
// writes NULs itself (over each markup's '>', over the '<' after a text run,
// behind names and values), so it carries the real end with it. The end is
// where the input's last byte stood (saved and overwritten with a NUL, so
// that every string operation stops there too) or the first NUL byte the
// input itself held, whichever comes first.
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include "xml/document.h"
#include "xml/parse_tree.h"
#include "xml/parser.h"

namespace {

struct scanner {
    ezxml_document *doc;
    char *end;              // the end of input; *end is NUL
    bool end_stands_for_gt; // the end is the overwritten last byte, and that byte was '>'
    markup_kinds kinds;
    text_tracker texts;
    char *last_item; // where the latest markup item or text run began
};

bool is_space(char c) {
    return isspace(static_cast<unsigned char>(c));
}

bool in_set(char c, const char *set) {
    return c != '\0' && strchr(set, c) != nullptr;
}

bool is_name_start(char c) {
    return isalpha(static_cast<unsigned char>(c)) || c == ':' || c == '_';
}

// The first position at or after p whose character is in set, or end.
char *find_any(char *p, char *end, const char *set) {
    while (p < end && !in_set(*p, set))
        ++p;
    return p;
}

bool starts_with(const char *p, const char *end, const char *literal) {
    size_t n = strlen(literal);
    return static_cast<size_t>(end - p) >= n && memcmp(p, literal, n) == 0;
}

char *find_literal(char *from, char *end, const char *literal) {
    return static_cast<char *>(memmem(from, end - from, literal, strlen(literal)));
}

// Whether p, where a '>' is expected, holds one: the real character, or the
// end of input standing in for the '>' that was the input's last byte.
bool closes_markup(const scanner &sc, const char *p) {
    return p < sc.end ? *p == '>' : sc.end_stands_for_gt;
}

// Records an error; the parse ends with it.
char *fail_out_of_memory(scanner &sc, char *position) {
    ezxml_err(sc.doc, position, "out of memory");
    return nullptr;
}

// The declared attributes of an element: the first per-element list of the
// internal DTD for that name, or null.
char **declared_attributes(ezxml_document *doc, const char *element) {
    for (char ***list = doc->default_attributes; *list; ++list)
        if (strcmp((*list)[0], element) == 0)
            return *list;
    return nullptr;
}

// How the value of an attribute is normalised: the first character of its
// declared type marker, or ' ' (CDATA) when it was not declared.
char value_mode(char **declared, const char *attribute) {
    if (declared)
        for (char **triple = declared + 1; *triple; triple += 3)
            if (strcmp(triple[0], attribute) == 0)
                return triple[2][0];
    return ' ';
}

// One start tag's attribute list while it is being read. Its layout is
// always whole (pairs, null, ownership string), so it can be released with
// ezxml_free_attr at any point. The arrays grow geometrically; the list an
// element ends up with is the same as with growth by one pair at a time.
struct attribute_list {
    char **list = EZXML_NIL;
    char *owners = nullptr;
    size_t count = 0;
    size_t list_capacity = 0;
    size_t owners_capacity = 0;

    bool add(char *name) {
        size_t k = count;
        if (2 * k + 4 > list_capacity) {
            size_t more = k == 0 ? 4 : 2 * list_capacity;
            auto *grown =
                static_cast<char **>(realloc(k == 0 ? nullptr : list, more * sizeof(char *)));
            if (!grown)
                return false;
            list = grown;
            list_capacity = more;
        }
        if (k + 2 > owners_capacity) {
            size_t more = k == 0 ? 2 : 2 * owners_capacity;
            auto *grown = static_cast<char *>(realloc(owners, more));
            if (!grown) {
                if (k == 0) {
                    free(list);
                    list = EZXML_NIL;
                }
                return false;
            }
            owners = grown;
            owners_capacity = more;
            if (k > 0)
                list[2 * k + 1] = owners; // the old block may have moved
        }
        owners[k] = ' ';
        owners[k + 1] = '\0';
        list[2 * k] = name;
        list[2 * k + 1] = empty_text();
        list[2 * k + 2] = nullptr;
        list[2 * k + 3] = owners;
        ++count;
        return true;
    }

    void release() {
        ezxml_free_attr(list);
        list = EZXML_NIL;
        owners = nullptr;
        count = 0;
    }
};

// Reads one attribute at p. Returns where the scan goes on, or null after
// recording an error (the list has then been released).
char *read_attribute(scanner &sc, char *markup, char *p, attribute_list &attrs, char **declared) {
    char *name = p;
    if (!attrs.add(name)) {
        attrs.release();
        return fail_out_of_memory(sc, markup);
    }
    size_t k = attrs.count - 1;

    p = find_any(p, sc.end, "\t\r\n =/>");
    if (p == sc.end || *p == '/' || *p == '>')
        return p; // an empty value; the name is ended by what ends the tag

    *p++ = '\0';
    while (p < sc.end && in_set(*p, "\t\r\n ="))
        ++p;
    if (p < sc.end && (*p == '"' || *p == '\'')) {
        char quote = *p++;
        char *value = p;
        char *close = static_cast<char *>(memchr(p, quote, sc.end - p));
        if (!close) {
            attrs.release();
            ezxml_err(sc.doc, markup, "missing %c", quote);
            return nullptr;
        }
        *close = '\0';
        p = close + 1;
        char *decoded = ezxml_decode(value, sc.doc->entities, value_mode(declared, name));
        attrs.list[2 * k + 1] = decoded;
        if (decoded != value)
            attrs.owners[k] = '@';
    }
    while (p < sc.end && is_space(*p))
        ++p;
    return p;
}

// After a start tag has been read up to its end (p at '>', at the end of
// input, or at the character after '/'), opens the element and, for an
// empty-element tag, closes it again.
char *finish_start_tag(scanner &sc, char *markup, char *name, char *p, attribute_list &attrs,
                       bool empty) {
    if (!closes_markup(sc, p)) {
        attrs.release();
        ezxml_err(sc.doc, markup, "missing >");
        return nullptr;
    }
    if (p < sc.end && !empty)
        *p = '\0'; // also ends the name when nothing followed it
    if (!open_element(sc.doc, name, attrs.list, &sc.texts)) {
        attrs.release();
        return fail_out_of_memory(sc, markup);
    }
    if (empty)
        close_element(sc.doc, name, p, &sc.texts);
    return p;
}

char *start_tag(scanner &sc, char *markup) {
    if (!sc.doc->current) {
        ezxml_err(sc.doc, markup, "markup outside of root element");
        return nullptr;
    }
    char *name = markup;
    char *p = find_any(markup, sc.end, "\t\r\n />");
    while (p < sc.end && is_space(*p))
        *p++ = '\0';

    attribute_list attrs;
    if (sc.kinds == markup_kinds::full) {
        char **declared = nullptr;
        if (p < sc.end && *p != '/' && *p != '>')
            declared = declared_attributes(sc.doc, name);
        while (p < sc.end && *p != '/' && *p != '>') {
            p = read_attribute(sc, markup, p, attrs, declared);
            if (!p)
                return nullptr;
        }
    }

    if (p < sc.end && *p == '/') {
        *p++ = '\0';
        return finish_start_tag(sc, markup, name, p, attrs, true);
    }
    return finish_start_tag(sc, markup, name, p, attrs, false);
}

char *closing_tag(scanner &sc, char *markup) {
    char *name = markup + 1;
    char *p = find_any(name, sc.end, "\t\r\n >");
    if (p == sc.end && !sc.end_stands_for_gt) {
        ezxml_err(sc.doc, name, "missing >");
        return nullptr;
    }
    char ended_by = *p;
    *p = '\0';
    if (close_element(sc.doc, name, p, &sc.texts))
        return nullptr;
    *p = ended_by;
    if (is_space(ended_by))
        while (p < sc.end && in_set(*p, "\t\r\n "))
            ++p;
    // Whatever stands here now is taken for the tag's end without a look.
    return p;
}

char *comment(scanner &sc, char *markup) {
    char *dashes = find_literal(markup + 3, sc.end, "--");
    if (!dashes || !closes_markup(sc, dashes + 2)) {
        ezxml_err(sc.doc, markup, "unclosed <!--");
        return nullptr;
    }
    return dashes + 2;
}

char *cdata_section(scanner &sc, char *markup) {
    char *close = find_literal(markup, sc.end, "]]>");
    if (!close) {
        ezxml_err(sc.doc, markup, "unclosed <![CDATA[");
        return nullptr;
    }
    char *content = markup + 8;
    append_run(sc.doc, content, close - content, 'c', &sc.texts);
    if (sc.texts.out_of_memory)
        return fail_out_of_memory(sc, markup);
    return close + 2;
}

char *doctype(scanner &sc, char *markup) {
    char *subset = nullptr; // the '[' that opened the internal subset
    char *p = markup;
    for (;;) {
        p = find_any(p + 1, sc.end, "[]>");
        if (p == sc.end)
            break;
        if (!subset) {
            if (*p == '>')
                return p; // no internal subset
            if (*p == '[')
                subset = p;
            continue;
        }
        if (*p == ']') {
            char *after = p + 1;
            while (after < sc.end && in_set(*after, "\t\r\n "))
                ++after;
            if (after < sc.end && *after == '>') {
                if (!ezxml_internal_dtd(sc.doc, subset + 1, p - (subset + 1)))
                    return nullptr;
                // The after-markup step overwrites the character behind the
                // ']' and carries on from there.
                return p + 1;
            }
        }
    }

    if (!sc.end_stands_for_gt) {
        ezxml_err(sc.doc, markup, "unclosed <!DOCTYPE");
        return nullptr;
    }
    if (subset && !ezxml_internal_dtd(sc.doc, subset + 1, sc.end - (subset + 1)))
        return nullptr;
    return sc.end;
}

char *processing_instruction(scanner &sc, char *markup) {
    char *question = markup;
    for (;;) {
        question = static_cast<char *>(memchr(question, '?', sc.end - question));
        if (!question)
            break;
        if (question + 1 == sc.end) {
            if (!sc.end_stands_for_gt)
                question = nullptr;
            break;
        }
        if (question[1] == '>')
            break;
        ++question;
    }
    if (!question) {
        ezxml_err(sc.doc, markup, "unclosed <?");
        return nullptr;
    }
    // "<?>" has neither target nor content: there is nothing to record.
    if (question > markup)
        ezxml_proc_inst(sc.doc, markup + 1, question - (markup + 1));
    return question + 1;
}

// The markup item that starts after a '<' (which may already have been
// overwritten). Returns the position of the item's last character, or null
// when the parse has ended with an error.
char *markup_item(scanner &sc, char *markup) {
    bool full = sc.kinds == markup_kinds::full;
    if (markup < sc.end && is_name_start(*markup))
        return start_tag(sc, markup);
    if (markup < sc.end && *markup == '/')
        return closing_tag(sc, markup);
    if (starts_with(markup, sc.end, "!--"))
        return comment(sc, markup);
    if (full && starts_with(markup, sc.end, "![CDATA["))
        return cdata_section(sc, markup);
    if (full && starts_with(markup, sc.end, "!DOCTYPE"))
        return doctype(sc, markup);
    if (full && markup < sc.end && *markup == '?')
        return processing_instruction(sc, markup);
    ezxml_err(sc.doc, markup, "unexpected <");
    return nullptr;
}

void end_checks(scanner &sc) {
    ezxml *open = sc.doc->current;
    if (!open)
        return;
    if (open->name)
        ezxml_err(sc.doc, sc.last_item, "unclosed tag <%s>", open->name);
    else
        ezxml_err(sc.doc, sc.last_item, "root tag missing");
}

// Parses from the first '<' at lt to the end of input.
void scan_markup(scanner &sc, char *lt) {
    for (;;) {
        sc.last_item = lt + 1;
        char *p = markup_item(sc, lt + 1);
        if (!p)
            return;

        // After the markup: overwrite its last character and look at what
        // follows, a further markup item or a text run up to the next '<'.
        if (p >= sc.end)
            return end_checks(sc);
        *p++ = '\0';
        if (p == sc.end)
            return end_checks(sc);
        if (*p == '<') {
            lt = p;
            continue;
        }
        sc.last_item = p;
        lt = static_cast<char *>(memchr(p, '<', sc.end - p));
        if (!lt)
            return end_checks(sc); // text behind the last markup is dropped
        append_run(sc.doc, p, lt - p, '&', &sc.texts);
        if (sc.texts.out_of_memory) {
            fail_out_of_memory(sc, p);
            return;
        }
    }
}

} // namespace

ezxml *parse_buffer(char *s, size_t len, markup_kinds kinds) {
    auto *doc = reinterpret_cast<ezxml_document *>(ezxml_new(nullptr));
    if (!doc)
        return nullptr;
    doc->source = s;
    if (!s || len == 0)
        return ezxml_err(doc, nullptr, "root tag missing");

    doc->utf8_copy = ezxml_str2utf8(&s, &len);
    doc->work_start = s;
    doc->work_end = s + len;
    // UTF-16 input holding nothing but its byte order mark is as empty as an
    // empty input, and has no last byte to save.
    if (len == 0)
        return ezxml_err(doc, nullptr, "root tag missing");

    char *last = s + len - 1;
    unsigned char saved_last = static_cast<unsigned char>(*last);
    *last = '\0';
    char *input_nul = static_cast<char *>(memchr(s, '\0', len - 1));

    scanner sc{};
    sc.doc = doc;
    sc.end = input_nul ? input_nul : last;
    // The saved byte only stands in for what was at the very end; a NUL the
    // input held hides everything behind it, that last byte included.
    sc.end_stands_for_gt = !input_nul && saved_last == '>';
    sc.kinds = kinds;
    sc.last_item = s;

    char *lt = static_cast<char *>(memchr(s, '<', sc.end - s));
    if (!lt)
        return ezxml_err(doc, sc.end, "root tag missing");
    scan_markup(sc, lt);
    finish_texts(&sc.texts);
    return &doc->root;
}

ezxml *ezxml_parse_str(char *s, size_t len) {
    return parse_buffer(s, len, markup_kinds::full);
}
