// Processing instructions: the XML declaration's standalone setting, and the
// table that files every other instruction under its target.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "xml/document.h"
#include "xml/entities.h"
#include "xml/parse_budget.h"

namespace {

bool is_blank(char c) {
    return c == '\t' || c == '\r' || c == '\n' || c == ' ';
}

// Whether text[length] can be written: the instruction must lie inside the
// text the parser cut up, and a length wrapped round from a negative count
// (the instruction "<?>" has none) never fits anything.
bool fits(const ezxml_document *doc, const char *text, size_t length) {
    if (length > static_cast<size_t>(PTRDIFF_MAX))
        return false;
    if (!doc->work_start)
        return true;
    return text >= doc->work_start && text < doc->work_end &&
           length < static_cast<size_t>(doc->work_end - text);
}

void note_standalone(ezxml_document *doc, const char *content) {
    const char *at = strstr(content, "standalone");
    if (!at)
        return;
    at += strlen("standalone");
    while (is_blank(*at) || *at == '=' || *at == '\'' || *at == '"')
        ++at;
    if (strncmp(at, "yes", 3) == 0)
        doc->standalone = 1;
}

constexpr size_t no_entry = SIZE_MAX;

// The table slot of target's entry, added behind the others when it is new;
// no_entry when memory runs out, leaving the table as it was.
size_t entry_for(ezxml_document *doc, char *target, parse_budget *budget) {
    char ***table = doc->instructions;
    size_t count = 0;
    if (table != reinterpret_cast<char ***>(EZXML_NIL)) {
        for (; table[count]; ++count)
            if (strcmp(table[count][0], target) == 0)
                return count;
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
    while (entry[k + 1])
        ++k;
    char *positions = entry[k + 2];

    char *longer = static_cast<char *>(budget_realloc(budget, positions, k + 2));
    if (!longer)
        return;
    positions = longer;
    positions[k] = '\0';
    entry[k + 2] = positions;

    char **grown = static_cast<char **>(budget_realloc(budget, entry, (k + 4) * sizeof *grown));
    if (!grown)
        return;
    grown[k + 1] = content;
    grown[k + 2] = nullptr;
    grown[k + 3] = positions;
    positions[k] = doc->root.name ? '>' : '<';
    positions[k + 1] = '\0';
    doc->instructions[index] = grown;
}

} // namespace

void file_instruction(ezxml_document *doc, char *s, size_t len, parse_budget *budget) {
    if (!doc || !s || !fits(doc, s, len))
        return;
    s[len] = '\0';

    char *target = s;
    char *content = s + len;
    for (char *p = s; p < s + len; ++p) {
        if (is_blank(*p)) {
            *p++ = '\0';
            while (p < s + len && is_blank(*p))
                ++p;
            content = p;
            break;
        }
    }

    if (strcmp(target, "xml") == 0) {
        note_standalone(doc, content);
        return;
    }

    size_t index = entry_for(doc, target, budget);
    if (index != no_entry)
        append_content(doc, index, content, budget);
}

extern "C" void ezxml_proc_inst(ezxml_document *doc, char *s, size_t len) {
    file_instruction(doc, s, len, nullptr);
}
