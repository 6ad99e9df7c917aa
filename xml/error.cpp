// Recording why a parse failed, with the line the fault stands on.
#include <limits.h>
#include <stdio.h>

#include "xml/document.h"

namespace {

// 1 plus the line feeds between the start of the work area and position.
// The work area holds the NULs that parsing wrote, so bytes are counted by
// length, never up to a terminator.
int line_of(const ezxml_document *doc, const char *position) {
    const char *start = doc->work_start;
    if (!start || !position || position <= start)
        return 1;
    const char *end = doc->work_end && position > doc->work_end ? doc->work_end : position;
    size_t lines = 1;
    for (const char *p = start; p < end;) {
        const void *lf = memchr(p, '\n', static_cast<size_t>(end - p));
        if (!lf)
            break;
        ++lines;
        p = static_cast<const char *>(lf) + 1;
    }
    return lines > INT_MAX ? INT_MAX : static_cast<int>(lines);
}

} // namespace

extern "C" ezxml *ezxml_err(ezxml_document *doc, char *position, const char *format, ...) {
    if (!doc)
        return nullptr;
    char *text = doc->error_text;
    // The prefix and the caller's message are formatted one after the other
    // into the bounded buffer: the caller's format is never cut, so no
    // conversion is ever split, and the message is cut at the capacity.
    int prefix =
        snprintf(text, EZXML_ERROR_CAPACITY, "[error near line %d]: ", line_of(doc, position));
    if (prefix < 0) {
        text[0] = '\0';
        return &doc->root;
    }
    size_t used = static_cast<size_t>(prefix);
    if (format && used < EZXML_ERROR_CAPACITY - 1) {
        va_list ap;
        va_start(ap, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        vsnprintf(text + used, EZXML_ERROR_CAPACITY - used, format, ap);
#pragma GCC diagnostic pop
        va_end(ap);
    }
    return &doc->root;
}
