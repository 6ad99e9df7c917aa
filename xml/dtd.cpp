// Declarations and processing instructions.
//
// The internal subset of a document type declaration: entity declarations
// feed the entity list, attribute-list declarations the table of declared
// defaults; comments are passed over, processing instructions filed, and
// everything else skipped. The subset comes from a file the device did not
// write, so every step stays inside [start, end] of the subset.
//
// Processing instructions: the XML declaration's standalone setting, and
// the table that files every other instruction under its target.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/chars.h"
#include "xml/document.h"
#include "xml/entities.h"
#include "xml/indexes.h"
#include "xml/parse_budget.h"
#include "xml/parse_state.h"

namespace {

char *skip_blanks(char *p, const char *end) {
    while (p < end && is_blank(*p)) {
        ++p;
    }
    return p;
}

char *skip_to_blank(char *p, const char *end) {
    while (p < end && !is_blank(*p)) {
        ++p;
    }
    return p;
}

char *find_char(char *p, const char *end, char c) {
    if (p >= end) {
        return nullptr;
    }
    return static_cast<char *>(memchr(p, c, static_cast<size_t>(end - p)));
}

char *find_text(char *p, const char *end, const char *needle) {
    if (p >= end) {
        return nullptr;
    }
    return static_cast<char *>(memmem(p, static_cast<size_t>(end - p), needle, strlen(needle)));
}

// The next '<' or '%', passing over terminators written earlier.
char *find_markup(char *p, const char *end) {
    while (p < end && *p != '<' && *p != '%') {
        ++p;
    }
    return p < end ? p : nullptr;
}

char *cdata_marker() {
    return const_cast<char *>(" ");
}
char *other_type_marker() {
    return const_cast<char *>("*");
}

struct Subset {
    ezxml_document *doc;
    char *start;
    char *end; // the subset's terminator
    char **parameter_entities;
    entity_index *index;     // the parse state's index of the document's entity list
    default_index *defaults; // the parse state's index of the default-attribute table
    parse_budget *budget;    // of the document while a parse runs; null for a call on its own
};

bool inside(const Subset &subset, const char *p) {
    return p >= subset.start && p <= subset.end;
}

// What the document may hold of a decoded text. The document frees exactly
// the strings outside its work area, so a text decoded in place elsewhere
// (a subset handed in from outside the parsed text) is copied to the heap.
// Null when memory runs out; the decoded text is then released.
char *keep_for_document(const Subset &subset, char *raw, char *decoded) {
    if (decoded != raw || in_work_area(subset.doc, decoded)) {
        return decoded;
    }
    return budget_strdup(subset.budget, decoded);
}

void release_decoded(char *raw, char *decoded) {
    if (decoded != raw) {
        free(decoded);
    }
}

size_t list_length(char **list) {
    size_t n = 0;
    while (list && list[n]) {
        ++n;
    }
    return n;
}

// "<!ENTITY": returns where the scan goes on, or null when it ends.
char *entity_declaration(Subset &subset, char *p) {
    ezxml_document *doc = subset.doc;
    char *end = subset.end;
    p = skip_blanks(p + strlen("<!ENTITY"), end);
    bool parameter = p < end && *p == '%';
    while (p < end && (is_blank(*p) || *p == '%')) {
        ++p;
    }
    char *name = p;
    p = skip_to_blank(p, end);
    if (p >= end) { // a name that runs to the end of the subset declares nothing
        return nullptr;
    }
    *p = ';';
    char *after_name = p + 1;

    char *open = skip_blanks(after_name, end);
    // With one blank between name and value, the name's terminator lands on
    // the opening quote: which quote it was is read first.
    char quote = open < end ? *open : '\0';
    if (quote != '"' && quote != '\'') {
        return find_char(after_name, end, '>'); // external or malformed: skipped
    }

    char **&list = parameter ? subset.parameter_entities : doc->entities;
    entity_index *index = parameter ? nullptr : subset.index;
    size_t count = index && entity_index_sync(index, list) ? 2 * index->pairs : list_length(list);
    char **grown =
        static_cast<char **>(budget_realloc(subset.budget, list, (count + 3) * sizeof *grown));
    if (!grown) {
        return nullptr;
    }
    list = grown;
    // The name slot stays the terminator while the value is decoded and
    // tested, so the entity cannot see itself.
    list[count] = list[count + 1] = list[count + 2] = nullptr;
    *after_name = '\0';

    char *value = open + 1;
    char *close = find_char(value, end, quote);
    char *next = nullptr; // without a closing quote the value runs to the end
    if (close) {
        *close = '\0';
        next = close + 1;
    }
    char *decoded = decode_text(value, subset.parameter_entities, '%', nullptr, subset.budget);
    if (budget_overrun_happened(subset.budget)) { // cut short: not declared
        release_decoded(value, decoded);
        return nullptr;
    }

    // Parameter entities are expanded through "%" references, which the
    // general guard does not follow: a parameter entity that reaches itself
    // that way would expand without end, so it is refused like any other
    // circular declaration.
    bool circular = entity_reaches(name, decoded, list, '&', index) ||
                    (parameter && entity_reaches(name, decoded, list, '%'));
    if (circular) {
        release_decoded(value, decoded);
        ezxml_err(doc, value, "circular entity declaration &%s", name);
        return nullptr;
    }

    // The parameter list is released by this scan, which frees exactly the
    // values that do not lie inside the subset.
    char *kept = parameter ? decoded : keep_for_document(subset, value, decoded);
    if (!kept) {
        release_decoded(value, decoded);
        return next;
    }
    list[count + 1] = kept;
    list[count] = name;
    return next;
}

// The default-attribute table's list for element, or -1.
ptrdiff_t find_element_defaults(const ezxml_document *doc, const char *element,
                                default_index *defaults) {
    char ***table = doc->default_attributes;
    if (defaults && default_index_update(defaults, table, -1)) {
        return default_index_list(defaults, table, element);
    }
    for (ptrdiff_t i = 0; table && table[i]; ++i) {
        if (strcmp(table[i][0], element) == 0) {
            return i;
        }
    }
    return -1;
}

// Appends a triple to the element's list, creating the list on its first
// triple. Returns the list's index; on exhausted memory the triple is
// dropped (its heap default released) and the index returned unchanged.
ptrdiff_t record_default(const Subset &subset, ptrdiff_t index, char *element, char *attribute,
                         char *value, char *marker) {
    ezxml_document *doc = subset.doc;
    default_index *defaults = subset.defaults;
    // With an index, the lengths of the table and of its lists are known.
    bool indexed = defaults && default_index_update(defaults, doc->default_attributes, -1);
    if (index < 0) {
        char ***table = doc->default_attributes;
        bool empty = !table || table == reinterpret_cast<char ***>(EZXML_NIL);
        size_t count = indexed ? defaults->known_lists : 0;
        while (!indexed && !empty && table[count]) {
            ++count;
        }
        char **list = static_cast<char **>(budget_malloc(subset.budget, 2 * sizeof *list));
        char ***grown =
            list ? static_cast<char ***>(budget_realloc(subset.budget, empty ? nullptr : table,
                                                        (count + 2) * sizeof *grown))
                 : nullptr;
        if (!grown) {
            free(list);
            if (value && !in_work_area(doc, value)) {
                free(value);
            }
            return index;
        }
        list[0] = element;
        list[1] = nullptr;
        grown[count] = list;
        grown[count + 1] = nullptr;
        doc->default_attributes = grown;
        index = static_cast<ptrdiff_t>(count);
    }

    char **list = doc->default_attributes[index];
    size_t j = 1;
    if (indexed && static_cast<size_t>(index) < defaults->known_lists) {
        j += 3 * default_index_length(defaults, static_cast<size_t>(index));
    }
    while (list[j]) {
        j += 3;
    }
    char **grown =
        static_cast<char **>(budget_realloc(subset.budget, list, (j + 4) * sizeof *grown));
    if (!grown) {
        if (value && !in_work_area(doc, value)) {
            free(value);
        }
        return index;
    }
    grown[j] = attribute;
    grown[j + 1] = value;
    grown[j + 2] = marker;
    grown[j + 3] = nullptr;
    doc->default_attributes[index] = grown;
    if (defaults) {
        default_index_update(defaults, doc->default_attributes, index);
    }
    return index;
}

// "<!ATTLIST": returns where the scan goes on, or null when it ends.
char *attlist_declaration(Subset &subset, char *p) {
    ezxml_document *doc = subset.doc;
    char *end = subset.end;
    p = skip_blanks(p + strlen("<!ATTLIST"), end);
    if (p >= end) {
        ezxml_err(doc, end, "unclosed <!ATTLIST");
        return nullptr;
    }
    char *element = p;
    while (p < end && !is_blank(*p) && *p != '>') {
        ++p;
    }
    if (p >= end) { // the element name runs to the end: nothing closes it
        ezxml_err(doc, end, "unclosed <!ATTLIST");
        return nullptr;
    }
    if (*p == '>') {
        return p;
    }
    *p++ = '\0';

    ptrdiff_t index = find_element_defaults(doc, element, subset.defaults);
    for (;;) {
        p = skip_blanks(p, end);
        if (p >= end || *p == '>') {
            return p;
        }

        char *attribute = p;
        p = skip_to_blank(p, end); // a '>' does not end the name
        if (p >= end) {
            ezxml_err(doc, element, "malformed <!ATTLIST");
            return nullptr;
        }
        *p++ = '\0';

        p = skip_blanks(p, end);
        char *marker = starts_with(p, end, "CDATA") ? cdata_marker() : other_type_marker();
        if (starts_with(p, end, "NOTATION")) {
            p = skip_blanks(p + strlen("NOTATION"), end);
        }
        if (p < end && *p == '(') {
            p = find_char(p, end, ')');
            if (!p) {
                ezxml_err(doc, element, "malformed <!ATTLIST");
                return nullptr;
            }
        } else {
            p = skip_to_blank(p, end);
        }
        while (p < end && (is_blank(*p) || *p == ')')) {
            ++p;
        }
        if (starts_with(p, end, "#FIXED")) {
            p = skip_blanks(p + strlen("#FIXED"), end);
        }

        char *value = nullptr;
        if (p < end && *p == '#') {
            while (p < end && !is_blank(*p) && *p != '>') {
                ++p;
            }
            // Undeclared attributes are read as CDATA anyway: only other
            // types need an entry, for their normalisation.
            if (marker == cdata_marker()) {
                continue;
            }
        } else if (p < end && (*p == '"' || *p == '\'')) {
            char *close = find_char(p + 1, end, *p);
            if (!close) {
                ezxml_err(doc, element, "malformed <!ATTLIST");
                return nullptr;
            }
            *close = '\0';
            char *raw = p + 1;
            p = close + 1;
            char *decoded = decode_text(raw, doc->entities, *marker, subset.index, subset.budget);
            if (budget_overrun_happened(subset.budget)) { // cut short: not recorded
                release_decoded(raw, decoded);
                return nullptr;
            }
            value = keep_for_document(subset, raw, decoded);
            if (!value) {
                release_decoded(raw, decoded);
                continue;
            }
        } else {
            // The declaration is abandoned; later ones are still read.
            ezxml_err(doc, element, "malformed <!ATTLIST");
            return p;
        }
        // A name that holds what ends an attribute name in a start tag, or
        // begins with white space that a start tag passes over before an
        // attribute (vertical tab, form feed), can never stand in one: no
        // element carries it, and a default written out under it would not
        // read back.
        if (strpbrk(attribute, "=/>") || attribute[0] == '\v' || attribute[0] == '\f') {
            if (value && !in_work_area(doc, value)) {
                free(value);
            }
            continue;
        }
        index = record_default(subset, index, element, attribute, value, marker);
    }
}

void release_parameter_entities(const Subset &subset) {
    char **list = subset.parameter_entities;
    for (size_t i = 0; list[i]; i += 2) {
        if (!inside(subset, list[i + 1])) {
            free(list[i + 1]);
        }
    }
    free(list);
}

} // namespace

int scan_internal_subset(ezxml_document *doc, char *s, size_t len, parse_state &state) {
    entity_index *index = &state.entities;
    default_index *defaults = &state.defaults;
    parse_budget *budget = state.budget;
    if (!doc) {
        return 0;
    }
    if (!s || len > static_cast<size_t>(PTRDIFF_MAX)) {
        return doc->error_text[0] == '\0';
    }
    char **parameter_entities =
        static_cast<char **>(budget_malloc(budget, sizeof *parameter_entities));
    if (!parameter_entities) {
        return doc->error_text[0] == '\0';
    }
    parameter_entities[0] = nullptr;
    s[len] = '\0';

    // A document nothing was parsed into has no work area, and would then
    // never free what the declarations allocate for it: the subset becomes
    // its work area, as the parsed text is for a parsed document.
    if (!doc->work_start) {
        doc->work_start = s;
        doc->work_end = s + len;
    }

    Subset subset{doc, s, s + len, parameter_entities, index, defaults, budget};
    char *p = s;
    // A declaration for which the budget ran out may be missing or cut
    // short; the parse that owns the budget ends with its error.
    while (p && p < subset.end && !budget_overrun_happened(budget)) {
        p = find_markup(p, subset.end);
        if (!p) {
            break;
        }
        if (starts_with(p, subset.end, "<!ENTITY")) {
            p = entity_declaration(subset, p);
        } else if (starts_with(p, subset.end, "<!ATTLIST")) {
            p = attlist_declaration(subset, p);
        } else if (starts_with(p, subset.end, "<!--")) {
            char *close = find_text(p + 4, subset.end, "-->");
            p = close ? close + 3 : nullptr;
        } else if (starts_with(p, subset.end, "<?")) {
            // The search starts at the '?' of "<?", as the parser's does, so
            // that "<?>" ends where the parser would end it when the
            // instruction is written out and read back; it files nothing.
            char *close = find_text(p + 1, subset.end, "?>");
            if (close && close > p + 1) {
                file_instruction(doc, p + 2, static_cast<size_t>(close - (p + 2)), budget);
            }
            p = close ? close + 1 : nullptr;
        } else if (*p == '<') {
            p = find_char(p + 1, subset.end, '>');
        } else {
            // A parameter-entity reference between declarations may bring in
            // declarations this scanner cannot see; only a standalone
            // document may go on reading past it.
            p = doc->standalone ? p + 1 : nullptr;
        }
    }

    release_parameter_entities(subset);
    return doc->error_text[0] == '\0';
}

extern "C" int ezxml_internal_dtd(ezxml_document *doc, char *s, size_t len) {
    parse_state state;
    start_state(state, doc, nullptr);
    int declared = scan_internal_subset(doc, s, len, state);
    finish_state(state);
    return declared;
}

namespace {

// Whether text[length] can be written: the instruction must lie inside the
// text the parser cut up, and a length wrapped round from a negative count
// (the instruction "<?>" has none) never fits anything.
bool fits(const ezxml_document *doc, const char *text, size_t length) {
    if (length > static_cast<size_t>(PTRDIFF_MAX)) {
        return false;
    }
    if (!doc->work_start) {
        return true;
    }
    return text >= doc->work_start && text < doc->work_end &&
           length < static_cast<size_t>(doc->work_end - text);
}

void note_standalone(ezxml_document *doc, const char *content) {
    const char *at = strstr(content, "standalone");
    if (!at) {
        return;
    }
    at += strlen("standalone");
    while (is_blank(*at) || *at == '=' || *at == '\'' || *at == '"') {
        ++at;
    }
    if (strncmp(at, "yes", 3) == 0) {
        doc->standalone = 1;
    }
}

constexpr size_t no_entry = SIZE_MAX;

// The table slot of target's entry, added behind the others when it is new;
// no_entry when memory runs out, leaving the table as it was.
size_t entry_for(ezxml_document *doc, char *target, parse_budget *budget) {
    char ***table = doc->instructions;
    size_t count = 0;
    if (table != reinterpret_cast<char ***>(EZXML_NIL)) {
        for (; table[count]; ++count) {
            if (strcmp(table[count][0], target) == 0) {
                return count;
            }
        }
    }

    char **entry = static_cast<char **>(budget_malloc(budget, 3 * sizeof *entry));
    char *positions = static_cast<char *>(budget_malloc(budget, 1));
    char ***grown = nullptr;
    if (entry && positions) {
        // The shared empty table is never written: a heap table replaces it.
        char ***old = table == reinterpret_cast<char ***>(EZXML_NIL) ? nullptr : table;
        grown = static_cast<char ***>(budget_realloc(budget, old, (count + 2) * sizeof *grown));
    }
    if (!grown) {
        free(entry);
        free(positions);
        return no_entry;
    }
    positions[0] = '\0';
    entry[0] = target;
    entry[1] = nullptr;
    entry[2] = positions;
    grown[count] = entry;
    grown[count + 1] = nullptr;
    doc->instructions = grown;
    return count;
}

// Appends content to the entry in slot index of the table, with its position:
// '<' before the root element's start tag, '>' after it.
void append_content(ezxml_document *doc, size_t index, char *content, parse_budget *budget) {
    char **entry = doc->instructions[index];
    size_t k = 0;
    while (entry[k + 1]) {
        ++k;
    }
    char *positions = entry[k + 2];

    char *longer = static_cast<char *>(budget_realloc(budget, positions, k + 2));
    if (!longer) {
        return;
    }
    positions = longer;
    positions[k] = '\0';
    entry[k + 2] = positions;

    char **grown = static_cast<char **>(budget_realloc(budget, entry, (k + 4) * sizeof *grown));
    if (!grown) {
        return;
    }
    grown[k + 1] = content;
    grown[k + 2] = nullptr;
    grown[k + 3] = positions;
    positions[k] = doc->root.name ? '>' : '<';
    positions[k + 1] = '\0';
    doc->instructions[index] = grown;
}

} // namespace

void file_instruction(ezxml_document *doc, char *s, size_t len, parse_budget *budget) {
    if (!doc || !s || !fits(doc, s, len)) {
        return;
    }
    s[len] = '\0';

    char *target = s;
    char *content = s + len;
    for (char *p = s; p < s + len; ++p) {
        if (is_blank(*p)) {
            *p++ = '\0';
            while (p < s + len && is_blank(*p)) {
                ++p;
            }
            content = p;
            break;
        }
    }

    if (strcmp(target, "xml") == 0) {
        note_standalone(doc, content);
        return;
    }

    size_t index = entry_for(doc, target, budget);
    if (index != no_entry) {
        append_content(doc, index, content, budget);
    }
}

extern "C" void ezxml_proc_inst(ezxml_document *doc, char *s, size_t len) {
    file_instruction(doc, s, len, nullptr);
}
