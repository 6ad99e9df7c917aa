// The markup items besides start tags: closing tags, comments, CDATA
// sections, document type declarations and processing instructions.
#include "xml/entities.h"
#include "xml/scanner.h"

namespace scanning {

char *closing_tag(scanner &sc, char *markup) {
    char *name = markup + 1;
    char *p = find_any(name, sc.end, closing_name_ends);
    if (p == sc.end && !sc.end_stands_for_gt) {
        ezxml_err(sc.doc, name, "missing >");
        return nullptr;
    }
    char ended_by = *p;
    *p = '\0';
    if (close_element(sc.doc, name, p, sc.state)) {
        return nullptr;
    }
    *p = ended_by;
    if (is_space(ended_by)) {
        p = skip_all(p, separators);
    }
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
    append_run(sc.doc, content, close - content, 'c', sc.state);
    if (sc.state.out_of_memory) {
        return fail_out_of_memory(sc, markup);
    }
    return close + 2;
}

char *doctype(scanner &sc, char *markup) {
    char *subset = nullptr; // the '[' that opened the internal subset
    char *p = markup;
    for (;;) {
        p = find_any(p + 1, sc.end, doctype_delimiters);
        if (p == sc.end) {
            break;
        }
        if (!subset) {
            if (*p == '>') {
                return p; // no internal subset
            }
            if (*p == '[') {
                subset = p;
            }
            continue;
        }
        if (*p == ']') {
            char *after = p + 1;
            after = skip_all(after, separators);
            if (after < sc.end && *after == '>') {
                if (!scan_internal_subset(sc.doc, subset + 1, p - (subset + 1), sc.state)) {
                    return nullptr;
                }
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
    if (subset && !scan_internal_subset(sc.doc, subset + 1, sc.end - (subset + 1), sc.state)) {
        return nullptr;
    }
    return sc.end;
}

char *processing_instruction(scanner &sc, char *markup) {
    char *question = markup;
    for (;;) {
        question = static_cast<char *>(memchr(question, '?', sc.end - question));
        if (!question) {
            break;
        }
        if (question + 1 == sc.end) {
            if (!sc.end_stands_for_gt) {
                question = nullptr;
            }
            break;
        }
        if (question[1] == '>') {
            break;
        }
        ++question;
    }
    if (!question) {
        ezxml_err(sc.doc, markup, "unclosed <?");
        return nullptr;
    }
    // "<?>" has neither target nor content: there is nothing to record.
    if (question > markup) {
        file_instruction(sc.doc, markup + 1, question - (markup + 1), sc.state.budget);
    }
    return question + 1;
}

} // namespace scanning
