// Writing elements and documents back out as XML text. Trees may be nested
// arbitrarily deep, so the element writer walks them with a loop along the
// tree's own links and never recurses.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/indexes.h"
#include "xml/document.h"

namespace {

constexpr size_t growth_step = 8192;

// The output buffer: text of *length bytes plus a NUL in *capacity bytes.
struct Output {
    char **buffer;
    size_t *length;
    size_t *capacity;
};

size_t round_up_to_step(size_t n) {
    size_t steps = n / growth_step + (n % growth_step != 0);
    return steps > SIZE_MAX / growth_step ? SIZE_MAX - SIZE_MAX % growth_step : steps * growth_step;
}

// Makes room for `room` more bytes and the NUL. The capacity stays a multiple
// of the growth step but grows by at least half each time, so long outputs
// cost linear time. False when no memory can be had.
bool reserve(Output out, size_t room) {
    size_t needed = *out.length + room;
    if (needed < *out.length) {
        return false;
    }
    if (needed <= *out.capacity && *out.buffer) {
        return true;
    }
    size_t capacity = *out.capacity + *out.capacity / 2;
    if (capacity < needed) {
        capacity = needed;
    }
    capacity = round_up_to_step(capacity);
    char *grown = static_cast<char *>(realloc(*out.buffer, capacity));
    if (!grown) {
        return false;
    }
    *out.buffer = grown;
    *out.capacity = capacity;
    return true;
}

void append(Output out, const char *bytes, size_t n) {
    if (!reserve(out, n + 1)) {
        return;
    }
    memcpy(*out.buffer + *out.length, bytes, n);
    *out.length += n;
    (*out.buffer)[*out.length] = '\0';
}

void append(Output out, const char *text) {
    append(out, text, strlen(text));
}

void append_escaped(Output out, const char *s, size_t n, int16_t mode) {
    ezxml_ampencode(s, n, out.buffer, out.length, out.capacity, mode);
}

constexpr int16_t text_mode = 0;
constexpr int16_t attribute_mode = 1;

void append_attribute(Output out, const char *name, const char *value) {
    append(out, " ");
    append(out, name);
    append(out, "=\"");
    append_escaped(out, value, SIZE_MAX, attribute_mode);
    append(out, "\"");
}

// The declared defaults for element name, or null.
char **defaults_for(char ***table, const char *name, const default_index *index) {
    if (!name) {
        return nullptr;
    }
    if (index) {
        ptrdiff_t number = default_index_list(index, table, name);
        return number < 0 ? nullptr : table[number];
    }
    for (size_t i = 0; table && table[i]; ++i) {
        if (strcmp(table[i][0], name) == 0) {
            return table[i];
        }
    }
    return nullptr;
}

// Whether name occurs among the first `count` names of a list whose names
// stand every `stride` slots from `first`: the slow answer, for when a name
// set ran out of memory.
bool occurs_before(char **list, size_t first, size_t stride, size_t count, const char *name) {
    for (size_t i = 0; i < count; ++i) {
        if (strcmp(list[first + i * stride], name) == 0) {
            return true;
        }
    }
    return false;
}

// The element's own attributes, each name only at its first occurrence, then
// the declared defaults it does not carry itself, each attribute only at its
// first declaration and only when a default value was declared.
void append_attributes(Output out, ezxml *e, char ***defaults, const default_index *index) {
    char **own = e->attributes;
    size_t own_count = 0;
    NameSet own_names;
    name_set_init(&own_names);
    for (; own && own[2 * own_count]; ++own_count) {
        const char *name = own[2 * own_count];
        int added = name_set_add(&own_names, name);
        if (added < 0) {
            added = !occurs_before(own, 0, 2, own_count, name);
        }
        if (added) {
            append_attribute(out, name, own[2 * own_count + 1] ? own[2 * own_count + 1] : "");
        }
    }

    if (char **declared = defaults_for(defaults, e->name, index)) {
        NameSet declared_names;
        name_set_init(&declared_names);
        for (size_t k = 0; declared[1 + 3 * k]; ++k) {
            const char *name = declared[1 + 3 * k];
            const char *value = declared[2 + 3 * k];
            int first = name_set_add(&declared_names, name);
            if (first < 0) {
                first = !occurs_before(declared, 1, 3, k, name);
            }
            int carried = name_set_contains(&own_names, name);
            if (carried < 0) {
                carried = occurs_before(own, 0, 2, own_count, name);
            }
            if (first && value && !carried) {
                append_attribute(out, name, value);
            }
        }
        name_set_release(&declared_names);
    }
    name_set_release(&own_names);
}

const char *name_of(const ezxml *e) {
    return e->name ? e->name : "";
}

// A text is never null by the tree's rules; a tree built wrongly by hand
// still must not crash the writer.
const char *text_of(const ezxml *e) {
    return e && e->text ? e->text : "";
}

// Where in text the position `offset` lies, never past the text's end.
size_t clamp_to_text(const char *text, size_t offset) {
    return strnlen(text, offset);
}

// The positions reached in the texts of the levels above the element being
// written. Measuring a parent's text again from its start each time the
// writer comes back up to it would make a long text with many children
// cost quadratic time. When no memory can be had for a level, that level's
// position is measured again instead.
struct level_positions {
    size_t *items = nullptr;
    size_t count = 0;
    size_t capacity = 0;
    size_t unsaved = 0; // levels above the saved ones whose position was not kept
};

void save_position(level_positions &levels, size_t position) {
    if (levels.unsaved == 0 && levels.count == levels.capacity) {
        size_t more = levels.capacity ? 2 * levels.capacity : 64;
        auto *grown = static_cast<size_t *>(realloc(levels.items, more * sizeof(size_t)));
        if (grown) {
            levels.items = grown;
            levels.capacity = more;
        }
    }
    if (levels.unsaved == 0 && levels.count < levels.capacity) {
        levels.items[levels.count++] = position;
    } else {
        ++levels.unsaved;
    }
}

size_t restore_position(level_positions &levels, const char *text, size_t offset) {
    if (levels.unsaved > 0) {
        --levels.unsaved;
        return clamp_to_text(text, offset);
    }
    return levels.items[--levels.count];
}

void append_instructions(Output out, char ***table, char skipped_position, bool before_root) {
    if (!table) {
        return;
    }
    for (size_t i = 0; table[i]; ++i) {
        char **entry = table[i];
        size_t count = 0;
        while (entry[count + 1]) {
            ++count;
        }
        const char *positions = entry[count + 2];
        for (size_t k = 0; k < count; ++k) {
            if (positions && positions[k] == skipped_position) {
                continue;
            }
            const char *content = entry[k + 1];
            if (!before_root) {
                append(out, "\n");
            }
            append(out, "<?");
            append(out, entry[0]);
            if (*content) {
                append(out, " ");
            }
            append(out, content);
            append(out, "?>");
            if (before_root) {
                append(out, "\n");
            }
        }
    }
}

} // namespace

extern "C" char *ezxml_ampencode(const char *s, size_t len, char **dst, size_t *dlen, size_t *max,
                                 int16_t mode) {
    Output out{dst, dlen, max};
    for (size_t i = 0; i < len; ++i) {
        // Room for the longest escape and the NUL behind it.
        if (!reserve(out, 10)) {
            break;
        }
        char c = s[i];
        if (!c) {
            break;
        }
        const char *escape = nullptr;
        switch (c) {
        case '&':
            escape = "&amp;";
            break;
        case '<':
            escape = "&lt;";
            break;
        case '>':
            escape = "&gt;";
            break;
        case '"':
            escape = mode ? "&quot;" : nullptr;
            break;
        case '\n':
            escape = mode ? "&#xA;" : nullptr;
            break;
        case '\t':
            escape = mode ? "&#x9;" : nullptr;
            break;
        // Reading a value back turns every white-space character into a
        // space; only a reference keeps a vertical tab or form feed.
        case '\v':
            escape = mode ? "&#xB;" : nullptr;
            break;
        case '\f':
            escape = mode ? "&#xC;" : nullptr;
            break;
        case '\r':
            escape = "&#xD;";
            break;
        default:
            break;
        }
        char *at = *dst + *dlen;
        if (escape) {
            size_t n = strlen(escape);
            memcpy(at, escape, n);
            *dlen += n;
        } else {
            *at = c;
            *dlen += 1;
        }
        (*dst)[*dlen] = '\0';
    }
    return *dst;
}

extern "C" char *ezxml_toxml_r(ezxml *xml, char **s, size_t *len, size_t *max, size_t start,
                               char ***attr) {
    Output out{s, len, max};
    if (!xml || !s || !len || !max) {
        return s ? *s : nullptr;
    }

    // The walk keeps, for the level it is on, the text of the elements'
    // parent and the position in it up to which that text has been written.
    // It goes down along `child`, across along `ordered` and back up along
    // `parent`; `depth` says how far below the starting level it is.
    ezxml *e = xml;
    const char *text = text_of(e->parent);
    size_t position = clamp_to_text(text, start);
    size_t depth = 0;
    level_positions above;
    // Every element written looks its declarations up: with many declared
    // elements, through an index of the table built once for this call.
    default_index declarations{};
    const default_index *lookup = nullptr;
    size_t declared_elements = 0;
    while (attr && attr[declared_elements] && declared_elements <= 16) {
        ++declared_elements;
    }
    if (declared_elements > 16 && default_index_update(&declarations, attr, -1)) {
        lookup = &declarations;
    }
    for (;;) {
        // The parent's text up to this element, then its start tag. The
        // parent's text goes on from the element's offset, or from the
        // text's end when the offset lies past it.
        if (e->offset > position) {
            size_t n = clamp_to_text(text + position, e->offset - position);
            append_escaped(out, text + position, n, text_mode);
            position += n;
        } else {
            position = e->offset;
        }
        append(out, "\n<");
        append(out, name_of(e));
        append_attributes(out, e, attr, lookup);
        append(out, ">");

        if (e->child) {
            save_position(above, position);
            text = text_of(e);
            position = 0;
            e = e->child;
            ++depth;
            continue;
        }
        append_escaped(out, text_of(e), SIZE_MAX, text_mode);

        // Close elements until one has a successor in document order.
        for (;;) {
            append(out, "</");
            append(out, name_of(e));
            append(out, ">\n");
            if (e->ordered) {
                break;
            }
            append_escaped(out, text + position, SIZE_MAX, text_mode);
            if (depth == 0) {
                free(above.items);
                default_index_release(&declarations);
                return *s;
            }
            --depth;
            e = e->parent;
            text = text_of(e->parent);
            position = restore_position(above, text, e->offset);
        }
        e = e->ordered;
    }
}

extern "C" char *ezxml_toxml(ezxml *xml) {
    size_t length = 0;
    size_t capacity = growth_step;
    char *buffer = static_cast<char *>(malloc(capacity));
    if (!buffer) {
        return nullptr;
    }
    buffer[0] = '\0';
    if (!xml || !xml->name) {
        char *fitted = static_cast<char *>(realloc(buffer, 1));
        return fitted ? fitted : buffer;
    }

    Output out{&buffer, &length, &capacity};
    ezxml_document *doc = document_of(xml);
    ezxml *parent = xml->parent;
    ezxml *ordered = xml->ordered;
    if (!parent) {
        append_instructions(out, doc->instructions, '>', true);
    }

    // Written on its own: without the parent's text around it and without
    // the elements that follow it.
    xml->parent = nullptr;
    xml->ordered = nullptr;
    ezxml_toxml_r(xml, &buffer, &length, &capacity, 0, doc->default_attributes);
    xml->parent = parent;
    xml->ordered = ordered;

    if (!parent) {
        append_instructions(out, doc->instructions, '<', false);
    }

    char *fitted = static_cast<char *>(realloc(buffer, length + 1));
    return fitted ? fitted : buffer;
}
